// What the calculator does when it is told to stop (SIGINT, SIGTERM,
// SIGHUP): it removes what it was writing, then ends as the signal asks.
#pragma once

namespace lux {

// Blocks the termination signals in the calling thread (and so in every
// thread it starts afterwards) and waits for them on a thread of its own;
// when one comes, `cleanup` runs and the process ends by that signal, with
// the status a shell expects. Call once, first thing in main().
void on_termination_signals(void (*cleanup)());

}  // namespace lux
