// Whether the packed loops may use 256-bit AVX instructions. The processor
// decides once; the AVX and SSE2 loops perform the same IEEE operations on
// the same operands, so the results are the same bits either way.
#ifndef CORVELANTH_WIDE_VECTORS_H
#define CORVELANTH_WIDE_VECTORS_H

#if defined(__x86_64__) && !defined(CORVELANTH_NO_AVX)
#define CORVELANTH_AVX_LOOPS 1
#include <immintrin.h>
// Marks a function whose body may use AVX; call it only when avx_available().
#define CORVELANTH_AVX __attribute__((target("avx")))
#endif

namespace corvelanth {

// True when the AVX loops are built in and the processor and system run them.
inline bool avx_available() {
#ifdef CORVELANTH_AVX_LOOPS
    static const bool available = __builtin_cpu_supports("avx");
    return available;
#else
    return false;
#endif
}

}  // namespace corvelanth

#endif
