// Visibility of the shader entry points: plain C names, the host's calling
// convention, and nothing else leaves the library.
#pragma once

#if defined(_WIN32)
#define ZEL_EXPORT extern "C" __declspec(dllexport)
#else
#define ZEL_EXPORT extern "C" __attribute__((visibility("default")))
#endif
