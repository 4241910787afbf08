// Whether this test program is built with a sanitizer. Tests that measure
// the process's memory use it: AddressSanitizer keeps freed blocks in a
// quarantine and ThreadSanitizer shadows every byte, so resident-size bounds
// hold only in plain builds.
#pragma once

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define VG_SANITIZER_BUILD 1
#endif
#endif
#if !defined(VG_SANITIZER_BUILD) && (defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__))
#define VG_SANITIZER_BUILD 1
#endif

inline constexpr bool kSanitizerBuild =
#ifdef VG_SANITIZER_BUILD
    true;
#else
    false;
#endif
