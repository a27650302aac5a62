// Scene editing as tests drive it: the scopes a scene is being built in.
// (The log of editing calls and the incremental mode are in refhost.h.)
#pragma once

#include <cstddef>
#include <string>

namespace refhost {

// The current scopes' prefix, "a::b::" inside a and b; empty at the top.
std::string scope_prefix();
size_t scope_depth();
// Opens and closes a scope as the scene's own description would, without
// an entry in the edit log.
void enter_scope(const std::string& name);
void leave_scope();

}  // namespace refhost
