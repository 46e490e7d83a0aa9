// The distance table: one square root per unordered pair of nodes, computed
// in packed rows and mirrored.
#include <cmath>

#include "route_steps.h"
#include "simd.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace corvelanth {
namespace {

// Writes d to distance[i][j] and its mirror [j][i].
inline void store_distance(DistanceTable& distance, int i, int j, double d) {
    distance[i][j] = d;
    distance[j][i] = d;
}

// Fills row i of the upper triangle from column j on, mirrored into column i;
// returns the first column left for the scalar loop.
int fill_row_sse2(const DistanceScratch& s, DistanceTable& distance, int i, int j, int n) {
#ifdef __SSE2__
    const __m128d xi = _mm_set1_pd(s.node_x[i]);
    const __m128d yi = _mm_set1_pd(s.node_y[i]);
    for (; j + 2 <= n; j += 2) {
        const __m128d dx = _mm_sub_pd(xi, _mm_loadu_pd(s.node_x + j));
        const __m128d dy = _mm_sub_pd(yi, _mm_loadu_pd(s.node_y + j));
        const __m128d d = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(dx, dx), _mm_mul_pd(dy, dy)));
        store_distance(distance, i, j, _mm_cvtsd_f64(d));
        store_distance(distance, i, j + 1, _mm_cvtsd_f64(_mm_unpackhi_pd(d, d)));
    }
#else
    (void)s, (void)distance, (void)i, (void)n;
#endif
    return j;
}

#ifdef CORVELANTH_WIDE_LOOPS
// fill_row_sse2, four columns at a time.
CORVELANTH_AVX2 int fill_row_avx(const DistanceScratch& s, DistanceTable& distance, int i, int j, int n) {
    const __m256d xi = _mm256_set1_pd(s.node_x[i]);
    const __m256d yi = _mm256_set1_pd(s.node_y[i]);
    for (; j + 4 <= n; j += 4) {
        const __m256d dx = _mm256_sub_pd(xi, _mm256_loadu_pd(s.node_x + j));
        const __m256d dy = _mm256_sub_pd(yi, _mm256_loadu_pd(s.node_y + j));
        const __m256d d = _mm256_sqrt_pd(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy)));
        _mm256_storeu_pd(&distance[i][j], d);
        alignas(32) double column[4];
        _mm256_store_pd(column, d);
        for (int k = 0; k < 4; ++k) distance[j + k][i] = column[k];
    }
    return j;
}
#endif

}  // namespace

void build_distances(const Point* points, int node_count, DistanceScratch& scratch, DistanceTable& distance) {
    const int n = node_count;
    for (int k = 0; k < n; ++k) {
        scratch.node_x[k] = points[k].x;
        scratch.node_y[k] = points[k].y;
    }
    int (*fill_row)(const DistanceScratch&, DistanceTable&, int, int, int) = fill_row_sse2;
#ifdef CORVELANTH_WIDE_LOOPS
    if (simd_path() != SimdPath::SSE2) fill_row = fill_row_avx;
#endif
    // Row i, columns j > i, mirrored into column i. sqrt rounds correctly in
    // every form, so the packed and the scalar loops give the same bits.
    for (int i = 0; i < n - 1; ++i) {
        distance[i][i] = 0.0;
        int j = fill_row(scratch, distance, i, i + 1, n);
        for (; j < n; ++j) {
            const double dx = scratch.node_x[i] - scratch.node_x[j];
            const double dy = scratch.node_y[i] - scratch.node_y[j];
            store_distance(distance, i, j, std::sqrt(dx * dx + dy * dy));
        }
    }
}

}  // namespace corvelanth
