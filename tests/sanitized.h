// Whether the tests run under a sanitizer (AddressSanitizer or
// ThreadSanitizer): their allocator changes what memory a stage takes, and
// their slowdown makes statistical comparisons with millions of photons
// take minutes; those are measured in the plain builds.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZEL_MEMORY_INSTRUMENTED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZEL_MEMORY_INSTRUMENTED 1
#endif

#ifdef ZEL_MEMORY_INSTRUMENTED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
