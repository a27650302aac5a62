#include "tools/lux/cli/interrupt.h"

#include <pthread.h>
#include <signal.h>

#include <thread>

namespace lux {

namespace {

sigset_t termination_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void on_termination_signals(void (*cleanup)()) {
  const sigset_t set = termination_signals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // The cleanup runs on an ordinary thread, not in a signal handler, so it
  // may take locks and use the file system like any code.
  std::thread([set, cleanup] {
    int signal_number = 0;
    if (sigwait(&set, &signal_number) != 0) return;
    cleanup();
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal_number);
    ::signal(signal_number, SIG_DFL);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal_number);
  }).detach();
}

}  // namespace lux
