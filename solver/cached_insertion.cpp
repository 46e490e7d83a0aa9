// Cheapest insertion without the full scan at every step: each pending city
// remembers its two cheapest positions, and an insertion recomputes only what
// it changed. The insertion loop of the pipeline and the reinsertion pass use it.
//
// Why the decisions are those of insert_cheapest's full scan: the scan takes
// the lexicographic minimum of (cost, position, pending slot) over the pairs
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
// Every cost is the expression of insert_cheapest, d[a][c] + (d[b][c] - d[a][b]),
// or d[a][c] for the append, with the same operands: the distance table is
// symmetric bit for bit, so d[c][a] may stand for d[a][c].
#include <cstdio>
#include <cstring>

#include "route_solver.h"

namespace corvelanth {
namespace {

// The window of each pending slot, moved along with the slot.
double first_cost[TABLE_SLOTS];
int first_pos[TABLE_SLOTS];
double second_cost[TABLE_SLOTS];
int second_pos[TABLE_SLOTS];
// edge_length[q] = distance between route positions q and q + 1.
double edge_length[TABLE_SLOTS];

// Slots whose window lost both entries at the last insertion.
int rescan_slots[TABLE_SLOTS];

// Fills edge_length for the current route.
void measure_edges(int len) {
    for (int q = 0; q + 1 < len; ++q) edge_length[q] = distance_table[route_list[q]][route_list[q + 1]];
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
void scan_positions(int slot, int len) {
    const double* to_c = distance_table[pending_list[slot]];
    double c0 = COST_CEILING, c1 = COST_CEILING;
    int p0 = -1, p1 = -1;
    double from_a = to_c[route_list[0]];
    for (int q = 0; q + 1 < len; ++q) {
        const double from_b = to_c[route_list[q + 1]];
        merge(from_a + (from_b - edge_length[q]), q, c0, p0, c1, p1);
        from_a = from_b;
    }
    merge(from_a, len - 1, c0, p0, c1, p1);  // appended after the open route's last node
    first_cost[slot] = c0;
    first_pos[slot] = p0;
    second_cost[slot] = c1;
    second_pos[slot] = p1;
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
void offer_positions(const double* to_c, int from, int to, int shift, Cheapest& even, Cheapest& odd) {
    if (from >= to) return;
    // Local copies stay in registers: the arrays read below cannot alias them.
    Cheapest low_even = even, low_odd = odd;
    double from_a = to_c[route_list[from]];
    int q = from;
    for (; q + 2 <= to; q += 2) {
        const double from_b = to_c[route_list[q + 1]];
        const double from_c = to_c[route_list[q + 2]];
        low_even.offer(from_a + (from_b - edge_length[q]), q - shift);
        low_odd.offer(from_b + (from_c - edge_length[q + 1]), q + 1 - shift);
        from_a = from_c;
    }
    if (q < to) low_even.offer(from_a + (to_c[route_list[q + 1]] - edge_length[q]), q - shift);
    even = low_even;
    odd = low_odd;
}

// The cheapest position of city c: the lowest cost below the ceiling, the
// lowest position among equal costs; -1 when no cost is below the ceiling.
int cheapest_position(int c, int len) {
    const double* to_c = distance_table[c];
    Cheapest even, odd;
    offer_positions(to_c, 0, len - 1, 0, even, odd);
    even.offer(to_c[route_list[len - 1]], len - 1);  // appended after the open route's last node
    return even.with(odd);
}

// cheapest_position for the city at route position k, as if it had been
// taken out: positions after k count one lower, and the nodes on either side
// of it are joined by an edge of their own.
int cheapest_position_without(int k, int len) {
    const double* to_c = distance_table[route_list[k]];
    Cheapest even, odd;
    offer_positions(to_c, 0, k - 1, 0, even, odd);
    const double joined = distance_table[route_list[k - 1]][route_list[k + 1]];
    even.offer(to_c[route_list[k - 1]] + (to_c[route_list[k + 1]] - joined), k - 1);
    offer_positions(to_c, k + 1, len - 1, 1, even, odd);
    even.offer(to_c[route_list[len - 1]], len - 2);
    return even.with(odd);
}

// Measures route edge q afresh.
inline void measure_edge(int q) { edge_length[q] = distance_table[route_list[q]][route_list[q + 1]]; }

// Moves the city at route position k to position `to`, the cities between
// moving one place towards k with the edges between them; the three edges
// that are new are measured.
void move_city(int k, int to, int len) {
    const int city = route_list[k];
    if (to > k) {
        std::memmove(&route_list[k], &route_list[k + 1], sizeof(int) * (to - k));
        std::memmove(&edge_length[k], &edge_length[k + 1], sizeof(double) * (to - 1 - k));
        route_list[to] = city;
        measure_edge(k - 1);
        measure_edge(to - 1);
        if (to < len - 1) measure_edge(to);
    } else if (to < k) {
        std::memmove(&route_list[to + 1], &route_list[to], sizeof(int) * (k - to));
        std::memmove(&edge_length[to + 1], &edge_length[to], sizeof(double) * (k - 1 - to));
        route_list[to] = city;
        measure_edge(to - 1);
        measure_edge(to);
        measure_edge(k);
    }
}

// Puts pending[slot] after route position p, as insert_cheapest does, and
// brings edge_length up to date.
void insert_at(int& len, int& pc, int p, int slot) {
    const int a = route_list[p];
    const int x = pending_list[slot];
    const int moved = len - 2 - p;  // edges after the one being split
    if (moved > 0) std::memmove(&edge_length[p + 2], &edge_length[p + 1], sizeof(double) * moved);
    edge_length[p] = distance_table[a][x];
    if (p + 1 < len) edge_length[p + 1] = distance_table[x][route_list[p + 1]];
    route_insert_after(len, p, slot);
    pending_remove_at(pc, slot);
    first_cost[slot] = first_cost[pc];
    first_pos[slot] = first_pos[pc];
    second_cost[slot] = second_cost[pc];
    second_pos[slot] = second_pos[pc];
}

// Updates every pending slot's window after pending city x went in after
// route position p, and returns the slot with the lowest (cost, position,
// slot) first entry; -1 when no slot has a position below the ceiling.
// X_LAST: x is the route's last node, so position p + 1 appends after it.
template <bool X_LAST>
int update_windows(int len, int pc, int p) {
    const double* to_a = distance_table[route_list[p]];
    const double* to_x = distance_table[route_list[p + 1]];
    const double* to_b = distance_table[route_list[X_LAST ? p + 1 : p + 2]];
    const double a_x = edge_length[p];
    const double x_b = X_LAST ? 0.0 : edge_length[p + 1];
    int best = -1;
    double best_cost = COST_CEILING;
    int best_pos = -1;
    int rescans = 0;
    for (int slot = 0; slot < pc; ++slot) {
        const int c = pending_list[slot];
        const double x_c = to_x[c];
        const double before = to_a[c] + (x_c - a_x);
        const double after = X_LAST ? x_c : x_c + (to_b[c] - x_b);
        double c0 = first_cost[slot], c1 = second_cost[slot];
        int p0 = first_pos[slot], p1 = second_pos[slot];
        // Most windows lose nothing and gain nothing: their positions only
        // move. `lower` drops a NaN candidate only when the other is kept,
        // and a NaN candidate never enters a window.
        const double lower = after < before ? after : before;
        if ((p0 == p) | (p1 == p) | !(lower > c1)) {
            if (p0 == p) {
                if (p1 == p) {
                    // Scanned after the loop, which then calls nothing and
                    // keeps its values in registers.
                    rescan_slots[rescans++] = slot;
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
            first_cost[slot] = c0;
            second_cost[slot] = c1;
        } else {
            p0 += p0 > p;
            p1 += p1 > p;
        }
        first_pos[slot] = p0;
        second_pos[slot] = p1;
        if (precedes(c0, p0, best_cost, best_pos)) {
            best = slot;
            best_cost = c0;
            best_pos = p0;
        }
    }
    for (int k = 0; k < rescans; ++k) {
        const int slot = rescan_slots[k];
        scan_positions(slot, len);
        const double c0 = first_cost[slot];
        const int p0 = first_pos[slot];
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
int best_slot(int pc) {
    int best = -1;
    double cost = COST_CEILING;
    int pos = -1;
    for (int slot = 0; slot < pc; ++slot) {
        if (precedes(first_cost[slot], first_pos[slot], cost, pos)) {
            best = slot;
            cost = first_cost[slot];
            pos = first_pos[slot];
        }
    }
    return best;
}

// Runs insertion steps, as insert_cheapest would, until nothing is pending or
// nothing can be placed; edge_length must describe the route.
void place_pending(int& len, int& pc) {
    if (pc == 1) {  // the usual case in the reinsertion pass: one full scan decides
        const int p = cheapest_position(pending_list[0], len);
        if (p >= 0) {
            insert_at(len, pc, p, 0);
            return;
        }
        std::fputs("No position.\n", stderr);
        return;
    }
    for (int slot = 0; slot < pc; ++slot) scan_positions(slot, len);
    int slot = best_slot(pc);
    while (slot >= 0) {
        const int p = first_pos[slot];
        insert_at(len, pc, p, slot);
        if (pc == 0) return;
        slot = p + 2 == len ? update_windows<true>(len, pc, p) : update_windows<false>(len, pc, p);
    }
    std::fputs("No position.\n", stderr);
}

}  // namespace

void insert_all(int& len, int& pc) {
    measure_edges(len);
    place_pending(len, pc);
}

void reinsert_interior(int& len, int& pc) {
    measure_edges(len);
    for (int k = 1; k < len - 1; ++k) {
        if (pc == 0) {
            // The usual case: the city taken out is the only one pending. It
            // is placed without being taken out first, so only the cities
            // between its old and its new place move.
            const int p = cheapest_position_without(k, len);
            if (p >= 0) {
                pending_list[pc] = route_list[k];  // as the push and removal would leave it
                move_city(k, p + 1, len);  // after position p of the route without it
                continue;
            }
        }
        pending_push(pc, route_list[k]);
        route_remove_at(len, k);
        // Edges k-1 and k become one; the edges after them move down.
        std::memmove(&edge_length[k], &edge_length[k + 1], sizeof(double) * (len - 1 - k));
        edge_length[k - 1] = distance_table[route_list[k - 1]][route_list[k]];
        place_pending(len, pc);
    }
}

}  // namespace corvelanth
