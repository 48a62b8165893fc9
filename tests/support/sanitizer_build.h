#pragma once
// Whether this build runs under AddressSanitizer or ThreadSanitizer. Their runtimes reserve
// terabytes of address space up front and end the process on an allocation they cannot make,
// so tests that bound a process's memory to see an allocation fail skip themselves there.
//
//   if (kSanitizerBuild) GTEST_SKIP() << kSanitizerSkipReason;

namespace ondevice::testing {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kSanitizerBuild = true;
#else
inline constexpr bool kSanitizerBuild = false;
#endif
#else
inline constexpr bool kSanitizerBuild = false;
#endif

inline constexpr const char* kSanitizerSkipReason =
    "a sanitizer's runtime cannot run within a memory bound, nor let an allocation fail";

}  // namespace ondevice::testing
