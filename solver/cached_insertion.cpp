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
#include <cstring>

#include "route_steps.h"

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
    s.windows[slot] = {c0, c1, p0, p1};
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

// The cheapest position of city c: the lowest cost below the ceiling, the
// lowest position among equal costs; -1 when no cost is below the ceiling.
int cheapest_position(const DistanceTable& d, const RouteLists& lists, const InsertionScratch& s, int c) {
    const int* route = lists.route;
    const int len = lists.route_len;
    const double* to_c = d[c];
    Cheapest even, odd;
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
    Cheapest even, odd;
    offer_positions(to_c, route, s.edge_length, 0, k - 1, 0, even, odd);
    const double joined = d[route[k - 1]][route[k + 1]];
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
    s.windows[slot] = s.windows[lists.pending_count];
}

// Updates every pending slot's window after pending city x went in after
// route position p, and returns the slot with the lowest (cost, position,
// slot) first entry; -1 when no slot has a position below the ceiling.
// X_LAST: x is the route's last node, so position p + 1 appends after it.
template <bool X_LAST>
int update_windows(const DistanceTable& d, const RouteLists& lists, InsertionScratch& s, int p) {
    const int* route = lists.route;
    const int pc = lists.pending_count;
    const double* to_a = d[route[p]];
    const double* to_x = d[route[p + 1]];
    const double* to_b = d[route[X_LAST ? p + 1 : p + 2]];
    const double a_x = s.edge_length[p];
    const double x_b = X_LAST ? 0.0 : s.edge_length[p + 1];
    InsertionWindow* windows = s.windows;
    int best = -1;
    double best_cost = COST_CEILING;
    int best_pos = -1;
    int rescans = 0;
    for (int slot = 0; slot < pc; ++slot) {
        const int c = lists.pending[slot];
        const double x_c = to_x[c];
        const double before = to_a[c] + (x_c - a_x);
        const double after = X_LAST ? x_c : x_c + (to_b[c] - x_b);
        InsertionWindow& w = windows[slot];
        double c0 = w.first_cost, c1 = w.second_cost;
        int p0 = w.first_pos, p1 = w.second_pos;
        // Most windows lose nothing and gain nothing: their positions only
        // move. `lower` drops a NaN candidate only when the other is kept,
        // and a NaN candidate never enters a window.
        const double lower = after < before ? after : before;
        if ((p0 == p) | (p1 == p) | !(lower > c1)) {
            if (p0 == p) {
                if (p1 == p) {
                    // Scanned after the loop, which then calls nothing and
                    // keeps its values in registers.
                    s.rescan_slots[rescans++] = slot;
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
            w.first_cost = c0;
            w.second_cost = c1;
        } else {
            p0 += p0 > p;
            p1 += p1 > p;
        }
        w.first_pos = p0;
        w.second_pos = p1;
        if (precedes(c0, p0, best_cost, best_pos)) {
            best = slot;
            best_cost = c0;
            best_pos = p0;
        }
    }
    for (int k = 0; k < rescans; ++k) {
        const int slot = s.rescan_slots[k];
        scan_positions(d, lists, s, slot);
        const double c0 = windows[slot].first_cost;
        const int p0 = windows[slot].first_pos;
        // Slots come in any order here: equal (cost, position) goes to the lower slot.
        if (precedes(c0, p0, best_cost, best_pos) || (c0 == best_cost && p0 == best_pos && slot < best)) {
            best = slot;
            best_cost = c0;
            best_pos = p0;
        }
    }
    return best;
}

// The lowest (cost, position, slot) over the pending slots' first entries;
// -1 when no slot has a position below the ceiling.
int best_slot(const InsertionWindow* windows, int pc) {
    int best = -1;
    double cost = COST_CEILING;
    int pos = -1;
    for (int slot = 0; slot < pc; ++slot) {
        if (precedes(windows[slot].first_cost, windows[slot].first_pos, cost, pos)) {
            best = slot;
            cost = windows[slot].first_cost;
            pos = windows[slot].first_pos;
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
    int slot = best_slot(s.windows, lists.pending_count);
    while (slot >= 0) {
        const int p = s.windows[slot].first_pos;
        insert_at(d, lists, s, p, slot);
        if (lists.pending_count == 0) return true;
        slot = p + 2 == lists.route_len ? update_windows<true>(d, lists, s, p) : update_windows<false>(d, lists, s, p);
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
