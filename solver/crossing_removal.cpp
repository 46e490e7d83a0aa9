// Crossing removal: one sweep of span reversals driven by a strict
// geometric crossing test on the point table.
//
// The sweep asks edges_cross(i, j) for each pair in order and reverses
// positions i+1..j when it holds, but it evaluates the test in an order that
// reads memory as a stream. edges_cross is (ab < 0) && (cd < 0), where
//   ab = cross(D - C, A - C) * cross(D - C, B - C)  (A, B on either side of CD)
//   cd = side(C) * side(D),  side(P) = cross(P - A, B - A)  (C, D on either side of AB)
// Both are pure functions of the four points, so testing cd first gives the
// same answer. While i is fixed, A and B are fixed, so side(P) of every route
// position is computed once into side_of[], with the same operations in the
// same order as in edges_cross; cd is then side_of[j] * side_of[j + 1], the
// same product (not a sign test, which would differ when the product
// underflows to zero or is NaN). Only when cd < 0 is ab computed, as written.
// A reversal at (i, j) keeps A at position i but brings C to position i + 1,
// so B changes: side_of[] is recomputed for the positions after j, the only
// ones the rest of this i reads, which the reversal did not move.
#include "route_solver.h"
#include "wide_vectors.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace corvelanth {
namespace {

// The longest span a sweep reverses is positions 1..m-2, at most 199 nodes.
constexpr int SPAN_BUFFER = 200;

// Route coordinates in visiting order, kept in step with the route during a sweep.
double route_x[TABLE_SLOTS];
double route_y[TABLE_SLOTS];
// side_of[k]: cross(P - A, B - A) for the point P at route position k.
double side_of[TABLE_SLOTS];

// z component of u x v.
inline double cross(double ux, double uy, double vx, double vy) { return ux * vy - uy * vx; }

// Product whose sign says on which sides of the line through C and D the
// points A and B lie: negative when strictly on opposite sides.
inline double sides_of_cd(Point a, Point b, Point c, Point d) {
    return cross(d.x - c.x, d.y - c.y, a.x - c.x, a.y - c.y) * cross(d.x - c.x, d.y - c.y, b.x - c.x, b.y - c.y);
}

// Fills side_of[from..m-1] for the line through A and B.
void measure_sides(int from, int m, Point a, Point b) {
    const double abx = b.x - a.x;
    const double aby = b.y - a.y;
    int k = from;
#ifdef __SSE2__
    // The same subtractions and products, two positions at a time.
    const __m128d ax = _mm_set1_pd(a.x), ay = _mm_set1_pd(a.y);
    const __m128d vx = _mm_set1_pd(abx), vy = _mm_set1_pd(aby);
    for (; k + 2 <= m; k += 2) {
        const __m128d ux = _mm_sub_pd(_mm_loadu_pd(route_x + k), ax);
        const __m128d uy = _mm_sub_pd(_mm_loadu_pd(route_y + k), ay);
        _mm_storeu_pd(side_of + k, _mm_sub_pd(_mm_mul_pd(ux, vy), _mm_mul_pd(uy, vx)));
    }
#endif
    for (; k < m; ++k) side_of[k] = cross(route_x[k] - a.x, route_y[k] - a.y, abx, aby);
}

// The first j in [from, end) with side_of[j] * side_of[j + 1] < 0, or end.
int next_straddling(int from, int end) {
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

#ifdef CORVELANTH_AVX_LOOPS
// measure_sides, four positions at a time.
CORVELANTH_AVX void measure_sides_avx(int from, int m, Point a, Point b) {
    const double abx = b.x - a.x;
    const double aby = b.y - a.y;
    int k = from;
    const __m256d ax = _mm256_set1_pd(a.x), ay = _mm256_set1_pd(a.y);
    const __m256d vx = _mm256_set1_pd(abx), vy = _mm256_set1_pd(aby);
    for (; k + 4 <= m; k += 4) {
        const __m256d ux = _mm256_sub_pd(_mm256_loadu_pd(route_x + k), ax);
        const __m256d uy = _mm256_sub_pd(_mm256_loadu_pd(route_y + k), ay);
        _mm256_storeu_pd(side_of + k, _mm256_sub_pd(_mm256_mul_pd(ux, vy), _mm256_mul_pd(uy, vx)));
    }
    for (; k < m; ++k) side_of[k] = cross(route_x[k] - a.x, route_y[k] - a.y, abx, aby);
}

// next_straddling, four positions at a time; LT_OQ is `<`, false for NaN.
CORVELANTH_AVX int next_straddling_avx(int from, int end) {
    int j = from;
    const __m256d zero = _mm256_setzero_pd();
    for (; j + 4 <= end; j += 4) {
        const __m256d product = _mm256_mul_pd(_mm256_loadu_pd(side_of + j), _mm256_loadu_pd(side_of + j + 1));
        const int below = _mm256_movemask_pd(_mm256_cmp_pd(product, zero, _CMP_LT_OQ));
        if (below != 0) return j + __builtin_ctz(below);
    }
    for (; j < end; ++j) {
        if (side_of[j] * side_of[j + 1] < 0) return j;
    }
    return end;
}
#endif

// Reverses positions a..b of the route coordinates.
void reverse_coordinates(int a, int b) {
    for (; a < b; ++a, --b) {
        const double x = route_x[a], y = route_y[a];
        route_x[a] = route_x[b], route_y[a] = route_y[b];
        route_x[b] = x, route_y[b] = y;
    }
}

// The point at route position k, from the coordinate arrays.
inline Point route_point(int k) { return {route_x[k], route_y[k]}; }

}  // namespace

int edges_cross(int i, int j) {
    const Point& a = point_table[route_list[i]];
    const Point& b = point_table[route_list[i + 1]];
    const Point& c = point_table[route_list[j]];
    const Point& d = point_table[route_list[j + 1]];
    // A and B must lie strictly on opposite sides of line CD: a zero product
    // (touching, shared endpoint, collinear) or NaN is not a crossing.
    if (!(sides_of_cd(a, b, c, d) < 0)) return 0;
    // ...and C and D strictly on opposite sides of line AB.
    const double cd_sides = cross(c.x - a.x, c.y - a.y, b.x - a.x, b.y - a.y) *
                            cross(d.x - a.x, d.y - a.y, b.x - a.x, b.y - a.y);
    return cd_sides < 0 ? 1 : 0;
}

int reverse_span(int a, int b) {
    if (a > b) return 1;
    int span[SPAN_BUFFER];
    for (int p = a; p <= b; ++p) span[p - a] = route_list[p];
    for (int p = a; p <= b; ++p) route_list[p] = span[b - p];
    return 0;
}

int uncross_route(int m) {
    void (*measure)(int, int, Point, Point) = measure_sides;
    int (*straddling)(int, int) = next_straddling;
#ifdef CORVELANTH_AVX_LOOPS
    if (avx_available()) {
        measure = measure_sides_avx;
        straddling = next_straddling_avx;
    }
#endif
    for (int k = 0; k < m; ++k) {
        route_x[k] = point_table[route_list[k]].x;
        route_y[k] = point_table[route_list[k]].y;
    }
    for (int i = 0; i < m - 3; ++i) {
        const Point a = route_point(i);
        measure(i + 2, m, a, route_point(i + 1));
        for (int j = straddling(i + 2, m - 1); j < m - 1; j = straddling(j + 1, m - 1)) {
            if (!(sides_of_cd(a, route_point(i + 1), route_point(j), route_point(j + 1)) < 0)) continue;
            // Reversing i+1..j turns edges (A,B),(C,D) into (A,C),(B,D).
            reverse_span(i + 1, j);
            reverse_coordinates(i + 1, j);
            measure(j + 1, m, a, route_point(i + 1));
        }
    }
    return 0;
}

}  // namespace corvelanth
