// Cheapest insertion without the full scan at every step: each pending city
// remembers its two cheapest positions, and an insertion recomputes only what
// it changed. The insertion loop of the pipeline and the reinsertion pass use it.
//
// Why the decisions are those of the full scan, which prices every pair of a
// route position and a pending slot at each step: the scan takes the
// lexicographic minimum of (cost, position, pending slot) over the pairs
// whose cost is below COST_CEILING (a NaN cost never passes `<`). Taking per
// slot the minimum of (cost, position) and then the minimum over slots of
// (cost, position, slot) gives the same pair. Inserting city x after route
// position p replaces the nodes (a, b) at p by (a, x) at p and (x, b) at p + 1
// (or the append after x when a was last); positions before p keep their
// nodes and positions after it move one up with theirs, costs unchanged. So
// a slot's cheapest positions change only by losing position p, by the
// shift, and by the two new candidates at p and p + 1.
//
// Each slot keeps a window of two entries (cost, position), in order:
// - a real entry is a position below the ceiling; the first one is the
//   slot's cheapest position, and a second real entry with another position
//   is the second cheapest;
// - END = (COST_CEILING, -1) says that no further position is below the
//   ceiling; no candidate at or above the ceiling, nor NaN, comes before it;
// - a second entry equal to the first (same position) says that further
//   positions may exist, all after the first, but are not known.
// Losing the first entry promotes the second; losing the second copies the
// first into it; losing both (a known first with an unknown rest) means the
// slot is scanned afresh. A candidate enters the window when it comes before
// one of its entries, which keeps all these meanings.
//
// Every cost is the full scan's expression, d[a][c] + (d[b][c] - d[a][b]),
// or d[a][c] for the append, with the same operands: the distance table is
// symmetric bit for bit, so d[c][a] may stand for d[a][c].
//
// The packed forms (AVX-512, eight slots or positions per step) compute the
// same expressions lane by lane, with the same IEEE operations (no FMA), and
// replace each branch by a mask that selects, per lane, the value the branch
// would have left; `<` is the ordered LT compare, false for NaN, `==` the
// ordered EQ compare. Two further facts make their minima those of the plain
// loops:
// - no cost compared is NaN or -0 once it is in a window (entries are below
//   the ceiling or END), so (cost, position) is a total order there, and the
//   first slot in ascending order reaching the minimum, which the plain loop
//   keeps with its strict `<`, is the lexicographic minimum of (cost,
//   position, slot). Lane l keeps the minimum over the slots l, l + 8, ...
//   in ascending order with the same strict test, and the lanes are then
//   combined lexicographically, which gives the same triple.
// - a running minimum over positions offered in ascending order with a strict
//   `<` is the lexicographic minimum of (cost, position) among the costs
//   below the ceiling (NaN never passes `<`); lanes that each keep such a
//   minimum over their own positions combine to the same.
#include <cstring>

#include "route_steps.h"
#include "simd.h"

namespace corvelanth {
namespace {

// Fills edge_length for the current route.
void measure_edges(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s) {
    for (int q = 0; q + 1 < lists.route_len; ++q) s.edge_length[q] = d[lists.route[q]][lists.route[q + 1]];
}

// True when (cost, pos) comes before (other_cost, other_pos).
inline bool precedes(double cost, int pos, double other_cost, int other_pos) {
    return cost < other_cost || (cost == other_cost && pos < other_pos);
}

// Puts candidate (cost, pos) into the window (c0, p0), (c1, p1) if it belongs there.
inline void merge(double cost, int pos, double& c0, int& p0, double& c1, int& p1) {
    if (!precedes(cost, pos, c1, p1)) return;
    if (precedes(cost, pos, c0, p0)) {
        c1 = c0;
        p1 = p0;
        c0 = cost;
        p0 = pos;
    } else {
        c1 = cost;
        p1 = pos;
    }
}

// Stores slot's window.
inline void store_window(InsertionScratch& s, int slot, double c0, int p0, double c1, int p1) {
    s.first_cost[slot] = c0;
    s.first_pos[slot] = p0;
    s.second_cost[slot] = c1;
    s.second_pos[slot] = p1;
}

// Full scan of pending[slot] over every route position into its window.
void scan_positions(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s, int slot) {
    const int* route = lists.route;
    const int len = lists.route_len;
    const double* to_c = d[lists.pending[slot]];
    double c0 = COST_CEILING, c1 = COST_CEILING;
    int p0 = -1, p1 = -1;
    double from_a = to_c[route[0]];
    for (int q = 0; q + 1 < len; ++q) {
        const double from_b = to_c[route[q + 1]];
        merge(from_a + (from_b - s.edge_length[q]), q, c0, p0, c1, p1);
        from_a = from_b;
    }
    merge(from_a, len - 1, c0, p0, c1, p1);  // appended after the open route's last node
    store_window(s, slot, c0, p0, c1, p1);
}

// The lowest cost offered and the first position offered at that cost, for
// positions offered in ascending order: `<` never replaces an equal cost, nor
// anything by NaN. (COST_CEILING, -1) when nothing below the ceiling came.
struct Cheapest {
    double cost = COST_CEILING;
    int pos = -1;

    void offer(double c, int q) {
        pos = c < cost ? q : pos;
        cost = c < cost ? c : cost;
    }
    // Takes (c, q) when it is lexicographically lower, whatever order it comes in.
    void take(double c, int q) {
        if (c < cost || (c == cost && q < pos)) {
            cost = c;
            pos = q;
        }
    }
    // The lower cost of two, the lower position on equal costs (-0 and +0 included).
    int with(const Cheapest& other) const {
        return other.cost < cost || (other.cost == cost && other.pos < pos) ? other.pos : pos;
    }
};

// Offers city c's insertion costs at route positions from..to-1, numbered
// `shift` lower, alternately to two minima, which breaks the dependency chain.
void offer_positions(const double* to_c, const int* route, const double* edge_length, int from, int to, int shift,
                     Cheapest& even, Cheapest& odd) {
    if (from >= to) return;
    // Local copies stay in registers: the arrays read below cannot alias them.
    Cheapest low_even = even, low_odd = odd;
    double from_a = to_c[route[from]];
    int q = from;
    for (; q + 2 <= to; q += 2) {
        const double from_b = to_c[route[q + 1]];
        const double from_c = to_c[route[q + 2]];
        low_even.offer(from_a + (from_b - edge_length[q]), q - shift);
        low_odd.offer(from_b + (from_c - edge_length[q + 1]), q + 1 - shift);
        from_a = from_c;
    }
    if (q < to) low_even.offer(from_a + (to_c[route[q + 1]] - edge_length[q]), q - shift);
    even = low_even;
    odd = low_odd;
}

#ifdef CORVELANTH_WIDE_LOOPS
// to_c[route[q + l]] in the lanes of `lanes`, 0 in the others.
CORVELANTH_AVX512 inline __m512d gather_route_avx512(const double* to_c, const int* route, int q, __mmask8 lanes) {
    const __m256i nodes = _mm256_maskz_loadu_epi32(lanes, route + q);
    return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), lanes, nodes, to_c, 8);
}

// The lowest (cost, position) of city c over route positions 0..to-1 but
// the two at skip - 1 and skip (none when skip > to), positions after skip
// numbered one lower, as offer_positions over the two ranges around them
// gives it. Eight positions per step into one minimum per lane, one gather
// per step (the last lane's neighbour comes from the next step's gather by a
// lane shift), and the lanes reduced at the end: the lowest cost, then the
// lowest position among the lanes holding it. A lane's minimum is never NaN.
CORVELANTH_AVX512 Cheapest cheapest_avx512(const double* to_c, const int* route, const double* edge_length, int to,
                                           int skip) {
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i skipped = _mm256_set1_epi32(skip);
    const __m256i one = _mm256_set1_epi32(1);
    __m512d low_cost = _mm512_set1_pd(COST_CEILING);
    __m256i low_pos = _mm256_set1_epi32(-1);
    __m512d from_a = gather_route_avx512(to_c, route, 0, lanes_below(to + 1));
    for (int q = 0; q < to; q += 8) {
        const __m256i at = _mm256_add_epi32(_mm256_set1_epi32(q), iota);
        // Positions skip - 1 and skip are left out; those after them count one lower.
        const __mmask8 live = lanes_below(to - q) & ~_mm256_cmpeq_epi32_mask(at, skipped) &
                              ~_mm256_cmpeq_epi32_mask(_mm256_add_epi32(at, one), skipped);
        const __m256i pos = _mm256_mask_sub_epi32(at, _mm256_cmpgt_epi32_mask(at, skipped), at, one);
        const __m512d next = gather_route_avx512(to_c, route, q + 8, lanes_below(to + 1 - (q + 8)));
        const __m512d from_b = _mm512_castsi512_pd(
            _mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(next), _mm512_castpd_si512(from_a), 1));
        const __m512d edge = _mm512_maskz_loadu_pd(lanes_below(to - q), edge_length + q);
        const __m512d cost = _mm512_add_pd(from_a, _mm512_sub_pd(from_b, edge));
        const __mmask8 lower = _mm512_mask_cmp_pd_mask(live, cost, low_cost, _CMP_LT_OQ);
        low_cost = _mm512_mask_mov_pd(low_cost, lower, cost);
        low_pos = _mm256_mask_mov_epi32(low_pos, lower, pos);
        from_a = next;
    }
    alignas(64) double costs[8];
    alignas(32) int positions[8];
    _mm512_store_pd(costs, low_cost);
    _mm256_store_si256(reinterpret_cast<__m256i*>(positions), low_pos);
    Cheapest best;
    for (int l = 0; l < 8; ++l) best.cost = costs[l] < best.cost ? costs[l] : best.cost;
    best.pos = TABLE_SLOTS;
    for (int l = 0; l < 8; ++l) best.pos = costs[l] == best.cost && positions[l] < best.pos ? positions[l] : best.pos;
    return best;
}

// to_c[route[q + l]] in the lanes below `count` of four, 0 in the others;
// masked lanes read no memory.
CORVELANTH_AVX2 inline __m256d gather_route_avx2(const double* to_c, const int* route, int q, int count) {
    const __m128i live = _mm_cmpgt_epi32(_mm_set1_epi32(count), _mm_setr_epi32(0, 1, 2, 3));
    const __m128i nodes = _mm_maskload_epi32(route + q, live);
    const __m256d lanes = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(live));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), to_c, nodes, lanes, 8);
}

// cheapest_avx512 with four lanes of AVX2: the same positions, costs (the
// same operands and IEEE operations in the same order), per-lane strict `<`
// minima over ascending positions and the same reduction, so the same
// result by the argument at the top. Masks are all-ones or all-zero 64-bit
// lanes; the neighbour of lane 3 comes from lane 0 of the next gather.
CORVELANTH_AVX2 Cheapest cheapest_avx2(const double* to_c, const int* route, const double* edge_length, int to,
                                       int skip) {
    const __m256i iota = _mm256_setr_epi64x(0, 1, 2, 3);
    const __m256i skipped = _mm256_set1_epi64x(skip);
    const __m256i one = _mm256_set1_epi64x(1);
    __m256d low_cost = _mm256_set1_pd(COST_CEILING);
    __m256d low_pos = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    __m256d from_a = gather_route_avx2(to_c, route, 0, to + 1);
    for (int q = 0; q < to; q += 4) {
        const __m256i at = _mm256_add_epi64(_mm256_set1_epi64x(q), iota);
        const __m256i in_range = _mm256_cmpgt_epi64(_mm256_set1_epi64x(to - q), iota);
        // Positions skip - 1 and skip are left out; those after them count one lower.
        const __m256i left_out =
            _mm256_or_si256(_mm256_cmpeq_epi64(at, skipped), _mm256_cmpeq_epi64(_mm256_add_epi64(at, one), skipped));
        const __m256i live = _mm256_andnot_si256(left_out, in_range);
        // cmpgt gives -1 where at > skip: adding it subtracts one.
        const __m256i pos = _mm256_add_epi64(at, _mm256_cmpgt_epi64(at, skipped));
        const __m256d next = gather_route_avx2(to_c, route, q + 4, to + 1 - (q + 4));
        const __m256d from_b = _mm256_shuffle_pd(from_a, _mm256_permute2f128_pd(from_a, next, 0x21), 0x5);
        const __m256d edge = _mm256_maskload_pd(edge_length + q, in_range);
        const __m256d cost = _mm256_add_pd(from_a, _mm256_sub_pd(from_b, edge));
        const __m256d lower = _mm256_and_pd(_mm256_castsi256_pd(live), _mm256_cmp_pd(cost, low_cost, _CMP_LT_OQ));
        low_cost = _mm256_blendv_pd(low_cost, cost, lower);
        low_pos = _mm256_blendv_pd(low_pos, _mm256_castsi256_pd(pos), lower);
        from_a = next;
    }
    alignas(32) double costs[4];
    alignas(32) long long positions[4];
    _mm256_store_pd(costs, low_cost);
    _mm256_store_si256(reinterpret_cast<__m256i*>(positions), _mm256_castpd_si256(low_pos));
    Cheapest best;
    for (int l = 0; l < 4; ++l) best.cost = costs[l] < best.cost ? costs[l] : best.cost;
    best.pos = TABLE_SLOTS;
    for (int l = 0; l < 4; ++l) {
        best.pos = costs[l] == best.cost && positions[l] < best.pos ? static_cast<int>(positions[l]) : best.pos;
    }
    return best;
}
#endif

// The cheapest position of city c: the lowest cost below the ceiling, the
// lowest position among equal costs; -1 when no cost is below the ceiling.
int cheapest_position(const DistanceTable& d, const RouteLists& lists, const InsertionScratch& s, int c) {
    const int* route = lists.route;
    const int len = lists.route_len;
    const double* to_c = d[c];
    Cheapest even, odd;
#ifdef CORVELANTH_WIDE_LOOPS
    if (simd_path() == SimdPath::AVX512) {
        Cheapest best = cheapest_avx512(to_c, route, s.edge_length, len - 1, len + 1);
        best.take(to_c[route[len - 1]], len - 1);
        return best.pos;
    }
    if (simd_path() == SimdPath::AVX2) {
        Cheapest best = cheapest_avx2(to_c, route, s.edge_length, len - 1, len + 1);
        best.take(to_c[route[len - 1]], len - 1);
        return best.pos;
    }
#endif
    offer_positions(to_c, route, s.edge_length, 0, len - 1, 0, even, odd);
    even.offer(to_c[route[len - 1]], len - 1);  // appended after the open route's last node
    return even.with(odd);
}

// cheapest_position for the city at route position k, as if it had been
// taken out: positions after k count one lower, and the nodes on either side
// of it are joined by an edge of their own.
int cheapest_position_without(const DistanceTable& d, const RouteLists& lists, const InsertionScratch& s, int k) {
    const int* route = lists.route;
    const int len = lists.route_len;
    const double* to_c = d[route[k]];
    const double joined = d[route[k - 1]][route[k + 1]];
    Cheapest even, odd;
#ifdef CORVELANTH_WIDE_LOOPS
    if (simd_path() == SimdPath::AVX512) {
        Cheapest best = cheapest_avx512(to_c, route, s.edge_length, len - 1, k);
        best.take(to_c[route[k - 1]] + (to_c[route[k + 1]] - joined), k - 1);
        best.take(to_c[route[len - 1]], len - 2);
        return best.pos;
    }
    if (simd_path() == SimdPath::AVX2) {
        Cheapest best = cheapest_avx2(to_c, route, s.edge_length, len - 1, k);
        best.take(to_c[route[k - 1]] + (to_c[route[k + 1]] - joined), k - 1);
        best.take(to_c[route[len - 1]], len - 2);
        return best.pos;
    }
#endif
    offer_positions(to_c, route, s.edge_length, 0, k - 1, 0, even, odd);
    even.offer(to_c[route[k - 1]] + (to_c[route[k + 1]] - joined), k - 1);
    offer_positions(to_c, route, s.edge_length, k + 1, len - 1, 1, even, odd);
    even.offer(to_c[route[len - 1]], len - 2);
    return even.with(odd);
}

// Measures route edge q afresh.
inline void measure_edge(const DistanceTable& d, const int* route, double* edge_length, int q) {
    edge_length[q] = d[route[q]][route[q + 1]];
}

// Moves the city at route position k to position `to`, the cities between
// moving one place towards k with the edges between them; the three edges
// that are new are measured.
void move_city(const DistanceTable& d, RouteLists& lists, InsertionScratch& s, int k, int to) {
    int* route = lists.route;
    double* edge_length = s.edge_length;
    const int city = route[k];
    if (to > k) {
        std::memmove(&route[k], &route[k + 1], sizeof(int) * (to - k));
        std::memmove(&edge_length[k], &edge_length[k + 1], sizeof(double) * (to - 1 - k));
        route[to] = city;
        measure_edge(d, route, edge_length, k - 1);
        measure_edge(d, route, edge_length, to - 1);
        if (to < lists.route_len - 1) measure_edge(d, route, edge_length, to);
    } else if (to < k) {
        std::memmove(&route[to + 1], &route[to], sizeof(int) * (k - to));
        std::memmove(&edge_length[to + 1], &edge_length[to], sizeof(double) * (k - 1 - to));
        route[to] = city;
        measure_edge(d, route, edge_length, to - 1);
        measure_edge(d, route, edge_length, to);
        measure_edge(d, route, edge_length, k);
    }
}

// Puts pending[slot] after route position p, as a full-scan insertion step
// does, and brings edge_length and the windows up to date.
void insert_at(const DistanceTable& d, RouteLists& lists, InsertionScratch& s, int p, int slot) {
    const int len = lists.route_len;
    const int a = lists.route[p];
    const int x = lists.pending[slot];
    const int moved = len - 2 - p;  // edges after the one being split
    if (moved > 0) std::memmove(&s.edge_length[p + 2], &s.edge_length[p + 1], sizeof(double) * moved);
    s.edge_length[p] = d[a][x];
    if (p + 1 < len) s.edge_length[p + 1] = d[x][lists.route[p + 1]];
    route_insert_after(lists, p, slot);
    pending_remove_at(lists, slot);
    const int last = lists.pending_count;
    store_window(s, slot, s.first_cost[last], s.first_pos[last], s.second_cost[last], s.second_pos[last]);
}

// The best first entry an update pass found among the slots it kept, and
// how many slots it left for a full scan in rescan_slots.
struct PassResult {
    int best = -1;
    double best_cost = COST_CEILING;
    int best_pos = -1;
    int rescans = 0;
};

// Updates every pending slot's window after pending city x went in after
// route position p, except the slots that lost both entries, which it lists
// in rescan_slots; returns the lowest (cost, position, slot) first entry of
// the others. X_LAST: x is the route's last node, so position p + 1 appends after it.
template <bool X_LAST>
PassResult update_windows(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s, int p) {
    const int* route = lists.route;
    const int pc = lists.pending_count;
    const double* to_a = d[route[p]];
    const double* to_x = d[route[p + 1]];
    const double* to_b = d[route[X_LAST ? p + 1 : p + 2]];
    const double a_x = s.edge_length[p];
    const double x_b = X_LAST ? 0.0 : s.edge_length[p + 1];
    PassResult r;
    for (int slot = 0; slot < pc; ++slot) {
        const int c = lists.pending[slot];
        const double x_c = to_x[c];
        const double before = to_a[c] + (x_c - a_x);
        const double after = X_LAST ? x_c : x_c + (to_b[c] - x_b);
        double c0 = s.first_cost[slot], c1 = s.second_cost[slot];
        int p0 = s.first_pos[slot], p1 = s.second_pos[slot];
        // Most windows lose nothing and gain nothing: their positions only
        // move. `lower` drops a NaN candidate only when the other is kept,
        // and a NaN candidate never enters a window.
        const double lower = after < before ? after : before;
        if ((p0 == p) | (p1 == p) | !(lower > c1)) {
            if (p0 == p) {
                if (p1 == p) {
                    s.rescan_slots[r.rescans++] = slot;
                    continue;
                }
                c0 = c1;
                p0 = p1;
            } else if (p1 == p) {
                c1 = c0;
                p1 = p0;
            }
            p0 += p0 > p;
            p1 += p1 > p;
            merge(before, p, c0, p0, c1, p1);
            merge(after, p + 1, c0, p0, c1, p1);
            s.first_cost[slot] = c0;
            s.second_cost[slot] = c1;
        } else {
            p0 += p0 > p;
            p1 += p1 > p;
        }
        s.first_pos[slot] = p0;
        s.second_pos[slot] = p1;
        if (precedes(c0, p0, r.best_cost, r.best_pos)) {
            r.best = slot;
            r.best_cost = c0;
            r.best_pos = p0;
        }
    }
    return r;
}

#ifdef CORVELANTH_WIDE_LOOPS
// merge() for eight windows at once: the lanes where (cost, pos) precedes the
// second entry take it, and of those the lanes where it also precedes the
// first move the first entry down and take it first.
CORVELANTH_AVX512 inline void merge_avx512(__m512d cost, __m256i pos, __m512d& c0, __m256i& p0, __m512d& c1,
                                           __m256i& p1) {
    const __mmask8 before_second =
        _mm512_cmp_pd_mask(cost, c1, _CMP_LT_OQ) |
        (_mm512_cmp_pd_mask(cost, c1, _CMP_EQ_OQ) & _mm256_cmp_epi32_mask(pos, p1, _MM_CMPINT_LT));
    const __mmask8 before_first =
        _mm512_cmp_pd_mask(cost, c0, _CMP_LT_OQ) |
        (_mm512_cmp_pd_mask(cost, c0, _CMP_EQ_OQ) & _mm256_cmp_epi32_mask(pos, p0, _MM_CMPINT_LT));
    const __mmask8 new_first = before_second & before_first;
    const __mmask8 new_second = before_second & static_cast<__mmask8>(~before_first);
    c1 = _mm512_mask_mov_pd(_mm512_mask_mov_pd(c1, new_first, c0), new_second, cost);
    p1 = _mm256_mask_mov_epi32(_mm256_mask_mov_epi32(p1, new_first, p0), new_second, pos);
    c0 = _mm512_mask_mov_pd(c0, new_first, cost);
    p0 = _mm256_mask_mov_epi32(p0, new_first, pos);
}

// update_windows, eight slots per step, without a branch per slot: the lost
// entry, the position shift and both merges are masks over the lanes, the
// general path of the plain loop for every lane (its shortcut only skips
// merges that would change nothing). Lanes that lost both entries are not
// stored and go to rescan_slots in ascending order, as in the plain loop.
template <bool X_LAST>
CORVELANTH_AVX512 PassResult update_windows_avx512(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s,
                                                   int p) {
    const int* route = lists.route;
    const int pc = lists.pending_count;
    const double* to_a = d[route[p]];
    const double* to_x = d[route[p + 1]];
    const double* to_b = d[route[X_LAST ? p + 1 : p + 2]];
    const __m512d a_x = _mm512_set1_pd(s.edge_length[p]);
    const __m512d x_b = _mm512_set1_pd(X_LAST ? 0.0 : s.edge_length[p + 1]);
    const __m256i at = _mm256_set1_epi32(p);
    const __m256i next_pos = _mm256_set1_epi32(p + 1);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i iota = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m512d best_cost = _mm512_set1_pd(COST_CEILING);
    __m256i best_pos = _mm256_set1_epi32(-1);
    __m256i best_slot = _mm256_set1_epi32(-1);
    PassResult r;
    for (int slot = 0; slot < pc; slot += 8) {
        const __mmask8 live = lanes_below(pc - slot);
        const __m256i c = _mm256_maskz_loadu_epi32(live, lists.pending + slot);
        const __m512d x_c = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), live, c, to_x, 8);
        const __m512d a_c = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), live, c, to_a, 8);
        const __m512d before = _mm512_add_pd(a_c, _mm512_sub_pd(x_c, a_x));
        __m512d after = x_c;
        if (!X_LAST) {
            const __m512d b_c = _mm512_mask_i32gather_pd(_mm512_setzero_pd(), live, c, to_b, 8);
            after = _mm512_add_pd(x_c, _mm512_sub_pd(b_c, x_b));
        }
        __m512d c0 = _mm512_maskz_loadu_pd(live, s.first_cost + slot);
        __m512d c1 = _mm512_maskz_loadu_pd(live, s.second_cost + slot);
        __m256i p0 = _mm256_maskz_loadu_epi32(live, s.first_pos + slot);
        __m256i p1 = _mm256_maskz_loadu_epi32(live, s.second_pos + slot);
        const __mmask8 lost_first = _mm256_mask_cmpeq_epi32_mask(live, p0, at);
        const __mmask8 lost_second = _mm256_mask_cmpeq_epi32_mask(live, p1, at);
        const __mmask8 rescan = lost_first & lost_second;
        const __mmask8 only_first = lost_first & static_cast<__mmask8>(~lost_second);
        const __mmask8 only_second = lost_second & static_cast<__mmask8>(~lost_first);
        c0 = _mm512_mask_mov_pd(c0, only_first, c1);
        p0 = _mm256_mask_mov_epi32(p0, only_first, p1);
        c1 = _mm512_mask_mov_pd(c1, only_second, c0);
        p1 = _mm256_mask_mov_epi32(p1, only_second, p0);
        p0 = _mm256_mask_add_epi32(p0, _mm256_cmp_epi32_mask(p0, at, _MM_CMPINT_NLE), p0, one);
        p1 = _mm256_mask_add_epi32(p1, _mm256_cmp_epi32_mask(p1, at, _MM_CMPINT_NLE), p1, one);
        merge_avx512(before, at, c0, p0, c1, p1);
        merge_avx512(after, next_pos, c0, p0, c1, p1);
        const __mmask8 kept = live & static_cast<__mmask8>(~rescan);
        _mm512_mask_storeu_pd(s.first_cost + slot, kept, c0);
        _mm512_mask_storeu_pd(s.second_cost + slot, kept, c1);
        _mm256_mask_storeu_epi32(s.first_pos + slot, kept, p0);
        _mm256_mask_storeu_epi32(s.second_pos + slot, kept, p1);
        const __mmask8 lower =
            kept &
            (_mm512_cmp_pd_mask(c0, best_cost, _CMP_LT_OQ) |
             (_mm512_cmp_pd_mask(c0, best_cost, _CMP_EQ_OQ) & _mm256_cmp_epi32_mask(p0, best_pos, _MM_CMPINT_LT)));
        best_cost = _mm512_mask_mov_pd(best_cost, lower, c0);
        best_pos = _mm256_mask_mov_epi32(best_pos, lower, p0);
        best_slot = _mm256_mask_mov_epi32(best_slot, lower, _mm256_add_epi32(_mm256_set1_epi32(slot), iota));
        for (unsigned m = rescan; m != 0; m &= m - 1) s.rescan_slots[r.rescans++] = slot + __builtin_ctz(m);
    }
    alignas(64) double costs[8];
    alignas(32) int positions[8];
    alignas(32) int slots[8];
    _mm512_store_pd(costs, best_cost);
    _mm256_store_si256(reinterpret_cast<__m256i*>(positions), best_pos);
    _mm256_store_si256(reinterpret_cast<__m256i*>(slots), best_slot);
    for (int l = 0; l < 8; ++l) {
        if (slots[l] < 0) continue;
        const bool lower = r.best < 0 || precedes(costs[l], positions[l], r.best_cost, r.best_pos) ||
                           (costs[l] == r.best_cost && positions[l] == r.best_pos && slots[l] < r.best);
        if (lower) {
            r.best = slots[l];
            r.best_cost = costs[l];
            r.best_pos = positions[l];
        }
    }
    return r;
}

// merge_avx512 for four windows with AVX2: masks are all-ones or all-zero
// 64-bit lanes, positions 64-bit integers.
CORVELANTH_AVX2 inline void merge_avx2(__m256d cost, __m256i pos, __m256d& c0, __m256i& p0, __m256d& c1, __m256i& p1) {
    const __m256d before_second = _mm256_or_pd(
        _mm256_cmp_pd(cost, c1, _CMP_LT_OQ),
        _mm256_and_pd(_mm256_cmp_pd(cost, c1, _CMP_EQ_OQ), _mm256_castsi256_pd(_mm256_cmpgt_epi64(p1, pos))));
    const __m256d before_first = _mm256_or_pd(
        _mm256_cmp_pd(cost, c0, _CMP_LT_OQ),
        _mm256_and_pd(_mm256_cmp_pd(cost, c0, _CMP_EQ_OQ), _mm256_castsi256_pd(_mm256_cmpgt_epi64(p0, pos))));
    const __m256d new_first = _mm256_and_pd(before_second, before_first);
    const __m256d new_second = _mm256_andnot_pd(before_first, before_second);
    c1 = _mm256_blendv_pd(_mm256_blendv_pd(c1, c0, new_first), cost, new_second);
    p1 = _mm256_castpd_si256(
        _mm256_blendv_pd(_mm256_blendv_pd(_mm256_castsi256_pd(p1), _mm256_castsi256_pd(p0), new_first),
                         _mm256_castsi256_pd(pos), new_second));
    c0 = _mm256_blendv_pd(c0, cost, new_first);
    p0 = _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(p0), _mm256_castsi256_pd(pos), new_first));
}

// The low 32 bits of each 64-bit lane, packed into four 32-bit lanes.
CORVELANTH_AVX2 inline __m128i narrow_avx2(__m256i v) {
    return _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

// update_windows_avx512 with four slots per step in AVX2: the same gathers,
// costs (same operands and IEEE operations), lost-entry masks, shift and
// merges lane by lane, the same running (cost, position, slot) minimum per
// lane and the same lexicographic reduction, so the same windows, rescan
// list (ascending) and best slot. Positions are widened to 64 bits (signed,
// so END's -1 stays -1) and narrowed back when stored.
template <bool X_LAST>
CORVELANTH_AVX2 PassResult update_windows_avx2(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s,
                                               int p) {
    const int* route = lists.route;
    const int pc = lists.pending_count;
    const double* to_a = d[route[p]];
    const double* to_x = d[route[p + 1]];
    const double* to_b = d[route[X_LAST ? p + 1 : p + 2]];
    const __m256d a_x = _mm256_set1_pd(s.edge_length[p]);
    const __m256d x_b = _mm256_set1_pd(X_LAST ? 0.0 : s.edge_length[p + 1]);
    const __m256i at = _mm256_set1_epi64x(p);
    const __m256i next_pos = _mm256_set1_epi64x(p + 1);
    const __m256i iota = _mm256_setr_epi64x(0, 1, 2, 3);
    const __m128i iota32 = _mm_setr_epi32(0, 1, 2, 3);
    __m256d best_cost = _mm256_set1_pd(COST_CEILING);
    __m256i best_pos = _mm256_set1_epi64x(-1);
    __m256i best_slot = _mm256_set1_epi64x(-1);
    PassResult r;
    for (int slot = 0; slot < pc; slot += 4) {
        const __m128i live32 = _mm_cmpgt_epi32(_mm_set1_epi32(pc - slot), iota32);
        const __m256d live = _mm256_castsi256_pd(_mm256_cvtepi32_epi64(live32));
        const __m128i c = _mm_maskload_epi32(lists.pending + slot, live32);
        const __m256d x_c = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), to_x, c, live, 8);
        const __m256d a_c = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), to_a, c, live, 8);
        const __m256d before = _mm256_add_pd(a_c, _mm256_sub_pd(x_c, a_x));
        __m256d after = x_c;
        if (!X_LAST) {
            const __m256d b_c = _mm256_mask_i32gather_pd(_mm256_setzero_pd(), to_b, c, live, 8);
            after = _mm256_add_pd(x_c, _mm256_sub_pd(b_c, x_b));
        }
        __m256d c0 = _mm256_maskload_pd(s.first_cost + slot, _mm256_castpd_si256(live));
        __m256d c1 = _mm256_maskload_pd(s.second_cost + slot, _mm256_castpd_si256(live));
        __m256i p0 = _mm256_cvtepi32_epi64(_mm_maskload_epi32(s.first_pos + slot, live32));
        __m256i p1 = _mm256_cvtepi32_epi64(_mm_maskload_epi32(s.second_pos + slot, live32));
        const __m256d lost_first = _mm256_and_pd(live, _mm256_castsi256_pd(_mm256_cmpeq_epi64(p0, at)));
        const __m256d lost_second = _mm256_and_pd(live, _mm256_castsi256_pd(_mm256_cmpeq_epi64(p1, at)));
        const __m256d rescan = _mm256_and_pd(lost_first, lost_second);
        const __m256d only_first = _mm256_andnot_pd(lost_second, lost_first);
        const __m256d only_second = _mm256_andnot_pd(lost_first, lost_second);
        c0 = _mm256_blendv_pd(c0, c1, only_first);
        p0 = _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(p0), _mm256_castsi256_pd(p1), only_first));
        c1 = _mm256_blendv_pd(c1, c0, only_second);
        p1 = _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(p1), _mm256_castsi256_pd(p0), only_second));
        // cmpgt gives -1 where the position is after p: subtracting it adds one.
        p0 = _mm256_sub_epi64(p0, _mm256_cmpgt_epi64(p0, at));
        p1 = _mm256_sub_epi64(p1, _mm256_cmpgt_epi64(p1, at));
        merge_avx2(before, at, c0, p0, c1, p1);
        merge_avx2(after, next_pos, c0, p0, c1, p1);
        const __m256d kept = _mm256_andnot_pd(rescan, live);
        const __m128i kept32 = narrow_avx2(_mm256_castpd_si256(kept));
        _mm256_maskstore_pd(s.first_cost + slot, _mm256_castpd_si256(kept), c0);
        _mm256_maskstore_pd(s.second_cost + slot, _mm256_castpd_si256(kept), c1);
        _mm_maskstore_epi32(s.first_pos + slot, kept32, narrow_avx2(p0));
        _mm_maskstore_epi32(s.second_pos + slot, kept32, narrow_avx2(p1));
        const __m256d lower =
            _mm256_and_pd(kept, _mm256_or_pd(_mm256_cmp_pd(c0, best_cost, _CMP_LT_OQ),
                                             _mm256_and_pd(_mm256_cmp_pd(c0, best_cost, _CMP_EQ_OQ),
                                                           _mm256_castsi256_pd(_mm256_cmpgt_epi64(best_pos, p0)))));
        best_cost = _mm256_blendv_pd(best_cost, c0, lower);
        best_pos = _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(best_pos), _mm256_castsi256_pd(p0), lower));
        const __m256i slots = _mm256_add_epi64(_mm256_set1_epi64x(slot), iota);
        best_slot =
            _mm256_castpd_si256(_mm256_blendv_pd(_mm256_castsi256_pd(best_slot), _mm256_castsi256_pd(slots), lower));
        for (unsigned m = static_cast<unsigned>(_mm256_movemask_pd(rescan)); m != 0; m &= m - 1) {
            s.rescan_slots[r.rescans++] = slot + __builtin_ctz(m);
        }
    }
    alignas(32) double costs[4];
    alignas(32) long long positions[4];
    alignas(32) long long slots[4];
    _mm256_store_pd(costs, best_cost);
    _mm256_store_si256(reinterpret_cast<__m256i*>(positions), best_pos);
    _mm256_store_si256(reinterpret_cast<__m256i*>(slots), best_slot);
    for (int l = 0; l < 4; ++l) {
        if (slots[l] < 0) continue;
        const int lane_slot = static_cast<int>(slots[l]);
        const int lane_pos = static_cast<int>(positions[l]);
        const bool lower = r.best < 0 || precedes(costs[l], lane_pos, r.best_cost, r.best_pos) ||
                           (costs[l] == r.best_cost && lane_pos == r.best_pos && lane_slot < r.best);
        if (lower) {
            r.best = lane_slot;
            r.best_cost = costs[l];
            r.best_pos = lane_pos;
        }
    }
    return r;
}
#endif

// Updates every pending slot's window after the insertion after route
// position p, and returns the slot with the lowest (cost, position, slot)
// first entry; -1 when no slot has a position below the ceiling.
int update_all_windows(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s, int p) {
    const bool x_last = p + 2 == lists.route_len;
    PassResult r;
#ifdef CORVELANTH_WIDE_LOOPS
    if (simd_path() == SimdPath::AVX512) {
        r = x_last ? update_windows_avx512<true>(d, lists, s, p) : update_windows_avx512<false>(d, lists, s, p);
    } else if (simd_path() == SimdPath::AVX2) {
        r = x_last ? update_windows_avx2<true>(d, lists, s, p) : update_windows_avx2<false>(d, lists, s, p);
    } else
#endif
    {
        r = x_last ? update_windows<true>(d, lists, s, p) : update_windows<false>(d, lists, s, p);
    }
    for (int k = 0; k < r.rescans; ++k) {
        const int slot = s.rescan_slots[k];
        scan_positions(d, lists, s, slot);
        const double c0 = s.first_cost[slot];
        const int p0 = s.first_pos[slot];
        // Slots come in any order here: equal (cost, position) goes to the lower slot.
        if (precedes(c0, p0, r.best_cost, r.best_pos) || (c0 == r.best_cost && p0 == r.best_pos && slot < r.best)) {
            r.best = slot;
            r.best_cost = c0;
            r.best_pos = p0;
        }
    }
    return r.best;
}

// The lowest (cost, position, slot) over the pending slots' first entries;
// -1 when no slot has a position below the ceiling.
int best_slot(const InsertionScratch& s, int pc) {
    int best = -1;
    double cost = COST_CEILING;
    int pos = -1;
    for (int slot = 0; slot < pc; ++slot) {
        if (precedes(s.first_cost[slot], s.first_pos[slot], cost, pos)) {
            best = slot;
            cost = s.first_cost[slot];
            pos = s.first_pos[slot];
        }
    }
    return best;
}

// Runs insertion steps, as the full scan would, until nothing is pending or
// nothing can be placed; edge_length must describe the route. False in the
// second case.
bool place_pending(const DistanceTable& d, RouteLists& lists, InsertionScratch& s) {
    if (lists.pending_count == 1) {  // the usual case in the reinsertion pass: one full scan decides
        const int p = cheapest_position(d, lists, s, lists.pending[0]);
        if (p < 0) return false;
        insert_at(d, lists, s, p, 0);
        return true;
    }
    for (int slot = 0; slot < lists.pending_count; ++slot) scan_positions(d, lists, s, slot);
    int slot = best_slot(s, lists.pending_count);
    while (slot >= 0) {
        const int p = s.first_pos[slot];
        insert_at(d, lists, s, p, slot);
        if (lists.pending_count == 0) return true;
        slot = update_all_windows(d, lists, s, p);
    }
    return false;
}

}  // namespace

bool insert_all(const DistanceTable& distance, RouteLists& lists, InsertionScratch& scratch) {
    measure_edges(distance, lists, scratch);
    return place_pending(distance, lists, scratch);
}

int reinsert_interior(const DistanceTable& distance, RouteLists& lists, InsertionScratch& scratch) {
    int no_position_count = 0;
    measure_edges(distance, lists, scratch);
    for (int k = 1; k < lists.route_len - 1; ++k) {
        if (lists.pending_count == 0) {
            // The usual case: the city taken out is the only one pending. It
            // is placed without being taken out first, so only the cities
            // between its old and its new place move.
            const int p = cheapest_position_without(distance, lists, scratch, k);
            if (p >= 0) {
                lists.pending[0] = lists.route[k];              // as the push and removal would leave it
                move_city(distance, lists, scratch, k, p + 1);  // after position p of the route without it
                continue;
            }
        }
        pending_push(lists, lists.route[k]);
        route_remove_at(lists, k);
        // Edges k-1 and k become one; the edges after them move down.
        const int len = lists.route_len;
        std::memmove(&scratch.edge_length[k], &scratch.edge_length[k + 1], sizeof(double) * (len - 1 - k));
        scratch.edge_length[k - 1] = distance[lists.route[k - 1]][lists.route[k]];
        if (!place_pending(distance, lists, scratch)) ++no_position_count;
    }
    return no_position_count;
}

}  // namespace corvelanth
