// Crossing removal: one sweep of span reversals driven by a strict
// geometric crossing test on the point table.
//
// The sweep decides, for each pair of edges i < j - 1 in order, whether they
// cross properly and reverses positions i+1..j when they do, but it evaluates
// the test in an order that reads memory as a stream. The test is
// (ab < 0) && (cd < 0), where
//   ab = cross(D - C, A - C) * cross(D - C, B - C)  (A, B on either side of CD)
//   cd = side(C) * side(D),  side(P) = cross(P - A, B - A)  (C, D on either side of AB)
// Both are pure functions of the four points, so testing cd first gives the
// same answer. While i is fixed, A and B are fixed, so side(P) of every route
// position is computed once into side_of[], with the same operations in the
// same order as the test's own; cd is then side_of[j] * side_of[j + 1], the
// same product (not a sign test, which would differ when the product
// underflows to zero or is NaN). Only when cd < 0 is ab computed, as written.
// A reversal at (i, j) keeps A at position i but brings C to position i + 1,
// so B changes: side_of[] is recomputed for the positions after j, the only
// ones the rest of this i reads, which the reversal did not move.
#include <utility>

#include "route_steps.h"
#include "simd.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace corvelanth {
namespace {

// z component of u x v.
inline double cross(double ux, double uy, double vx, double vy) {
    return ux * vy - uy * vx;
}

// Product whose sign says on which sides of the line through C and D the
// points A and B lie: negative when strictly on opposite sides.
inline double sides_of_cd(Point a, Point b, Point c, Point d) {
    return cross(d.x - c.x, d.y - c.y, a.x - c.x, a.y - c.y) * cross(d.x - c.x, d.y - c.y, b.x - c.x, b.y - c.y);
}

// Fills side_of[from..m-1] for the line through A and B.
void measure_sides(SweepScratch& s, int from, int m, Point a, Point b) {
    const double abx = b.x - a.x;
    const double aby = b.y - a.y;
    int k = from;
#ifdef __SSE2__
    // The same subtractions and products, two positions at a time.
    const __m128d ax = _mm_set1_pd(a.x), ay = _mm_set1_pd(a.y);
    const __m128d vx = _mm_set1_pd(abx), vy = _mm_set1_pd(aby);
    for (; k + 2 <= m; k += 2) {
        const __m128d ux = _mm_sub_pd(_mm_loadu_pd(s.route_x + k), ax);
        const __m128d uy = _mm_sub_pd(_mm_loadu_pd(s.route_y + k), ay);
        _mm_storeu_pd(s.side_of + k, _mm_sub_pd(_mm_mul_pd(ux, vy), _mm_mul_pd(uy, vx)));
    }
#endif
    for (; k < m; ++k) s.side_of[k] = cross(s.route_x[k] - a.x, s.route_y[k] - a.y, abx, aby);
}

// The first j in [from, end) with side_of[j] * side_of[j + 1] < 0, or end.
int next_straddling(const SweepScratch& s, int from, int end) {
    const double* side_of = s.side_of;
    int j = from;
#ifdef __SSE2__
    const __m128d zero = _mm_setzero_pd();
    for (; j + 2 <= end; j += 2) {
        const __m128d product = _mm_mul_pd(_mm_loadu_pd(side_of + j), _mm_loadu_pd(side_of + j + 1));
        const int below = _mm_movemask_pd(_mm_cmplt_pd(product, zero));
        if (below != 0) return (below & 1) ? j : j + 1;
    }
#endif
    for (; j < end; ++j) {
        if (side_of[j] * side_of[j + 1] < 0) return j;
    }
    return end;
}

// Reverses route positions a..b, nodes and coordinates together.
void reverse_span(int* route, SweepScratch& s, int a, int b) {
    for (; a < b; ++a, --b) {
        std::swap(route[a], route[b]);
        std::swap(s.route_x[a], s.route_x[b]);
        std::swap(s.route_y[a], s.route_y[b]);
    }
}

// The point at route position k, from the coordinate arrays.
inline Point route_point(const SweepScratch& s, int k) {
    return {s.route_x[k], s.route_y[k]};
}

#ifdef CORVELANTH_WIDE_LOOPS
// side() of route positions k..k+7 for the line through A and B, as
// measure_sides computes it; positions past the route read padding.
CORVELANTH_AVX512 inline __m512d sides_avx512(const SweepScratch& s, int k, __m512d ax, __m512d ay, __m512d vx,
                                              __m512d vy) {
    const __m512d ux = _mm512_sub_pd(_mm512_loadu_pd(s.route_x + k), ax);
    const __m512d uy = _mm512_sub_pd(_mm512_loadu_pd(s.route_y + k), ay);
    return _mm512_sub_pd(_mm512_mul_pd(ux, vy), _mm512_mul_pd(uy, vx));
}

// The sweep with side() computed, multiplied with its neighbour's and tested
// in one pass of eight positions per step: the same values as side_of[] and
// the same products, never stored; lanes at j >= m - 1 (padding) are masked
// off before they count. A reversal changes B, and the pass starts again at
// j + 1 with the new line, as the plain sweep measures again from there.
// The crossing test runs inline, with no call per straddling pair.
CORVELANTH_AVX512 void sweep_avx512(int* route, SweepScratch& s, int m) {
    const int end = m - 1;  // j runs below it; side() is read up to position m - 1
    const __m512d zero = _mm512_setzero_pd();
    for (int i = 0; i < m - 3; ++i) {
        const Point a = route_point(s, i);
        const __m512d ax = _mm512_set1_pd(a.x), ay = _mm512_set1_pd(a.y);
        int j = i + 2;
        while (j < end) {
            const Point b = route_point(s, i + 1);
            const __m512d vx = _mm512_set1_pd(b.x - a.x), vy = _mm512_set1_pd(b.y - a.y);
            __m512d here = sides_avx512(s, j, ax, ay, vx, vy);
            int reversed_at = -1;
            for (; j < end; j += 8) {
                const __m512d next = sides_avx512(s, j + 8, ax, ay, vx, vy);
                const __m512d after = _mm512_castsi512_pd(
                    _mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(next), _mm512_castpd_si512(here), 1));
                unsigned below =
                    _mm512_mask_cmp_pd_mask(lanes_below(end - j), _mm512_mul_pd(here, after), zero, _CMP_LT_OQ);
                for (; below != 0; below &= below - 1) {
                    const int k = j + __builtin_ctz(below);
                    if (sides_of_cd(a, b, route_point(s, k), route_point(s, k + 1)) < 0) {
                        reversed_at = k;
                        break;
                    }
                }
                if (reversed_at >= 0) break;
                here = next;
            }
            if (reversed_at < 0) break;
            _mm256_zeroupper();  // reverse_span is plain code
            reverse_span(route, s, i + 1, reversed_at);
            j = reversed_at + 1;
        }
    }
}

// side() of route positions k..k+3 for the line through A and B, as
// measure_sides computes it; positions past the route read padding.
CORVELANTH_AVX2 inline __m256d sides_avx2(const SweepScratch& s, int k, __m256d ax, __m256d ay, __m256d vx,
                                          __m256d vy) {
    const __m256d ux = _mm256_sub_pd(_mm256_loadu_pd(s.route_x + k), ax);
    const __m256d uy = _mm256_sub_pd(_mm256_loadu_pd(s.route_y + k), ay);
    return _mm256_sub_pd(_mm256_mul_pd(ux, vy), _mm256_mul_pd(uy, vx));
}

// sweep_avx512 with four lanes of AVX2: the same sides, products and `<`
// (LT_OQ, false for NaN), tested in ascending order with lanes at
// j >= m - 1 masked off, the same restart after a reversal, so the same
// reversals as the plain sweep. The neighbour of lane 3 is lane 0 of the
// next step's sides; it reads at most 7 entries of padding.
CORVELANTH_AVX2 void sweep_avx2(int* route, SweepScratch& s, int m) {
    const int end = m - 1;
    const __m256d zero = _mm256_setzero_pd();
    for (int i = 0; i < m - 3; ++i) {
        const Point a = route_point(s, i);
        const __m256d ax = _mm256_set1_pd(a.x), ay = _mm256_set1_pd(a.y);
        int j = i + 2;
        while (j < end) {
            const Point b = route_point(s, i + 1);
            const __m256d vx = _mm256_set1_pd(b.x - a.x), vy = _mm256_set1_pd(b.y - a.y);
            __m256d here = sides_avx2(s, j, ax, ay, vx, vy);
            int reversed_at = -1;
            for (; j < end; j += 4) {
                const __m256d next = sides_avx2(s, j + 4, ax, ay, vx, vy);
                const __m256d after = _mm256_shuffle_pd(here, _mm256_permute2f128_pd(here, next, 0x21), 0x5);
                const unsigned live = end - j >= 4 ? 0xfu : (1u << (end - j)) - 1;
                unsigned below = live & static_cast<unsigned>(_mm256_movemask_pd(
                                            _mm256_cmp_pd(_mm256_mul_pd(here, after), zero, _CMP_LT_OQ)));
                for (; below != 0; below &= below - 1) {
                    const int k = j + __builtin_ctz(below);
                    if (sides_of_cd(a, b, route_point(s, k), route_point(s, k + 1)) < 0) {
                        reversed_at = k;
                        break;
                    }
                }
                if (reversed_at >= 0) break;
                here = next;
            }
            if (reversed_at < 0) break;
            _mm256_zeroupper();  // reverse_span is plain code
            reverse_span(route, s, i + 1, reversed_at);
            j = reversed_at + 1;
        }
    }
}
#endif

}  // namespace

void uncross_route(const Point* points, int* route, int route_len, SweepScratch& scratch) {
    const int m = route_len;
    SweepScratch& s = scratch;
    for (int k = 0; k < m; ++k) {
        s.route_x[k] = points[route[k]].x;
        s.route_y[k] = points[route[k]].y;
    }
#ifdef CORVELANTH_WIDE_LOOPS
    if (simd_path() == SimdPath::AVX512) {
        sweep_avx512(route, s, m);
        return;
    }
    if (simd_path() == SimdPath::AVX2) {
        sweep_avx2(route, s, m);
        return;
    }
#endif
    for (int i = 0; i < m - 3; ++i) {
        const Point a = route_point(s, i);
        measure_sides(s, i + 2, m, a, route_point(s, i + 1));
        for (int j = next_straddling(s, i + 2, m - 1); j < m - 1; j = next_straddling(s, j + 1, m - 1)) {
            if (!(sides_of_cd(a, route_point(s, i + 1), route_point(s, j), route_point(s, j + 1)) < 0)) continue;
            // Reversing i+1..j turns edges (A,B),(C,D) into (A,C),(B,D).
            reverse_span(route, s, i + 1, j);
            measure_sides(s, j + 1, m, a, route_point(s, i + 1));
        }
    }
}

}  // namespace corvelanth
