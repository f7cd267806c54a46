#pragma once

#include <cstddef>

#ifdef __unix__
#include <malloc.h>
#include <sys/resource.h>
#endif

// Memory figures for the tests that bound what a load or a run of loads may hold.
#if defined(__SANITIZE_ADDRESS__)
#define XRD_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define XRD_ASAN 1
#endif
#endif

#ifdef XRD_ASAN
// From the sanitizer runtime (GCC ships no header for it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace xrdtest {

// AddressSanitizer keeps freed memory in a quarantine of a few hundred MB, so under it the
// size of the process says nothing about what the program holds.
#ifdef XRD_ASAN
constexpr bool kProcessSizeMeaningful = false;
#else
constexpr bool kProcessSizeMeaningful = true;
#endif

// Peak resident size of this process so far, in MB (0 where unknown).
inline double peakMegabytes() {
#ifdef __unix__
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
#else
    return 0;
#endif
}

// Heap in use right now, in MB: under AddressSanitizer from its allocator (the quarantine
// aside), otherwise from malloc's small blocks and mapped large ones.
inline double liveHeapMegabytes() {
#if defined(XRD_ASAN)
    return __sanitizer_get_current_allocated_bytes() / 1048576.0;
#elif defined(__GLIBC__) && __GLIBC_PREREQ(2, 33)
    const struct mallinfo2 info = mallinfo2();
    return (info.uordblks + info.hblkhd) / 1048576.0;
#else
    return 0;
#endif
}

} // namespace xrdtest
