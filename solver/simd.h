// The solver's one choice of instruction set, made at run time. Every packed
// loop exists in a plain or SSE2 form and may have AVX2 and AVX-512 forms,
// compiled for their target with __attribute__((target)) and called only when
// the processor runs them; each form performs the same IEEE operations on the
// same operands as the plain one, so the results are the same bits on every path.
//
// CORVELANTH_SIMD=sse2|avx2|avx512 forces a path no wider than the machine's
// widest (a wider one than the processor runs is ignored), so tests can run
// every path this machine has.
#ifndef CORVELANTH_SIMD_H
#define CORVELANTH_SIMD_H

#if defined(__x86_64__) && !defined(CORVELANTH_NO_WIDE_VECTORS)
#define CORVELANTH_WIDE_LOOPS 1
#include <immintrin.h>
// Marks a function whose body may use AVX2; call it only on SimdPath::AVX2 or wider.
#define CORVELANTH_AVX2 __attribute__((target("avx2")))
// Marks a function whose body may use AVX-512 F/VL/BW/DQ; call it only on SimdPath::AVX512.
#define CORVELANTH_AVX512 __attribute__((target("avx512f,avx512vl,avx512bw,avx512dq,avx2")))
#endif

#include <cstdlib>
#include <cstring>

namespace corvelanth {

// Instruction sets the packed loops come in, narrowest first.
enum class SimdPath { SSE2 = 0, AVX2 = 1, AVX512 = 2 };

// The widest path this processor and system run.
inline SimdPath widest_simd_path() {
#ifdef CORVELANTH_WIDE_LOOPS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx2")) {
        return SimdPath::AVX512;
    }
    if (__builtin_cpu_supports("avx2")) return SimdPath::AVX2;
#endif
    return SimdPath::SSE2;
}

// The path CORVELANTH_SIMD names, no wider than `widest`; `widest` when it names none.
inline SimdPath forced_simd_path(const char* name, SimdPath widest) {
    SimdPath wanted = widest;
    if (name == nullptr) return widest;
    if (std::strcmp(name, "sse2") == 0) wanted = SimdPath::SSE2;
    if (std::strcmp(name, "avx2") == 0) wanted = SimdPath::AVX2;
    if (std::strcmp(name, "avx512") == 0) wanted = SimdPath::AVX512;
    return static_cast<int>(wanted) < static_cast<int>(widest) ? wanted : widest;
}

// The path every packed loop of this process takes, chosen on first use.
inline SimdPath simd_path() {
    static const SimdPath path = forced_simd_path(std::getenv("CORVELANTH_SIMD"), widest_simd_path());
    return path;
}

#ifdef CORVELANTH_WIDE_LOOPS
// The mask of the first `count` of eight lanes (none when count <= 0).
inline __mmask8 lanes_below(int count) {
    return static_cast<__mmask8>(count >= 8 ? 0xff : count <= 0 ? 0 : (1u << count) - 1);
}

#endif

// The path's name as CORVELANTH_SIMD spells it.
inline const char* simd_path_name(SimdPath path) {
    return path == SimdPath::AVX512 ? "avx512" : path == SimdPath::AVX2 ? "avx2" : "sse2";
}

}  // namespace corvelanth

#endif
