// Construction for routes that end at a fixed finish or travel on given
// costs: the nearest-city seed, cheapest insertion and the reinsertion pass
// as the fixed pipeline runs them, but with no cost ceiling, every city
// placed, and no position after a finish.
//
// Positions are those of the fixed pipeline: inserting after route position
// q puts a city between route[q] and route[q + 1], at cost
// d[a][c] + (d[b][c] - d[a][b]); on an open route, after its last node at
// cost d[a][c]. A finish is the route's last node and nothing goes after it.
// Ties go to the lower position, then the lower pending slot. Each pending
// slot keeps its cheapest position; an insertion after position p loses
// position p, shifts the later ones up by one and offers two new ones, p
// and p + 1, so only a slot whose cheapest was p is scanned again.
#include "route_steps.h"

namespace corvelanth {
namespace {

// No position found.
constexpr int NO_POSITION = -1;

// Cost of putting city c after route position q, or after the last node of an open route.
inline double insertion_cost(const DistanceTable& d, const RouteLists& lists, int q, int c) {
    const int a = lists.route[q];
    if (q + 1 == lists.route_len) return d[a][c];
    const int b = lists.route[q + 1];
    return d[a][c] + (d[b][c] - d[a][b]);
}

// Positions a city may go after: every one but the finish, when there is one.
inline int position_count(const RouteLists& lists, bool has_finish) {
    return has_finish ? lists.route_len - 1 : lists.route_len;
}

// Scans every position for pending[slot] and keeps its cheapest; NaN costs never win.
void scan_slot(const DistanceTable& d, const RouteLists& lists, bool has_finish, InsertionScratch& s, int slot) {
    const int c = lists.pending[slot];
    const int positions = position_count(lists, has_finish);
    double best = 0.0;
    int best_pos = NO_POSITION;
    for (int q = 0; q < positions; ++q) {
        const double cost = insertion_cost(d, lists, q, c);
        if (best_pos == NO_POSITION ? cost == cost : cost < best) {
            best = cost;
            best_pos = q;
        }
    }
    s.first_cost[slot] = best;
    s.first_pos[slot] = best_pos;
}

// Offers position q at `cost` to slot's cheapest.
inline void offer(InsertionScratch& s, int slot, int q, double cost) {
    const int pos = s.first_pos[slot];
    if (!(cost == cost)) return;
    if (pos == NO_POSITION || cost < s.first_cost[slot] || (cost == s.first_cost[slot] && q < pos)) {
        s.first_cost[slot] = cost;
        s.first_pos[slot] = q;
    }
}

// The pending slot to insert next: the lowest (cost, position, slot); -1
// when no slot has a position with a cost that is a number.
int cheapest_slot(const RouteLists& lists, const InsertionScratch& s) {
    int chosen = -1;
    for (int slot = 0; slot < lists.pending_count; ++slot) {
        const int pos = s.first_pos[slot];
        if (pos == NO_POSITION) continue;
        if (chosen < 0 || s.first_cost[slot] < s.first_cost[chosen] ||
            (s.first_cost[slot] == s.first_cost[chosen] && pos < s.first_pos[chosen])) {
            chosen = slot;
        }
    }
    return chosen;
}

// Inserts pending[slot] after position p, removes it from the pending list
// and brings every other slot's cheapest position up to date.
void insert_slot(const DistanceTable& d, RouteLists& lists, bool has_finish, InsertionScratch& s, int slot, int p) {
    route_insert_after(lists, p, slot);
    const int last = lists.pending_count - 1;
    pending_remove_at(lists, slot);
    if (slot != last) {
        s.first_cost[slot] = s.first_cost[last];
        s.first_pos[slot] = s.first_pos[last];
    }
    const int positions = position_count(lists, has_finish);
    for (int k = 0; k < lists.pending_count; ++k) {
        const int pos = s.first_pos[k];
        if (pos == p || pos == NO_POSITION) {
            scan_slot(d, lists, has_finish, s, k);
            continue;
        }
        if (pos > p) s.first_pos[k] = pos + 1;
        const int c = lists.pending[k];
        offer(s, k, p, insertion_cost(d, lists, p, c));
        if (p + 1 < positions) offer(s, k, p + 1, insertion_cost(d, lists, p + 1, c));
    }
}

// Places every pending city; one with no usable position at all (its costs
// are not numbers) goes last, before the finish if there is one.
void place_all(const DistanceTable& d, RouteLists& lists, bool has_finish, InsertionScratch& s) {
    for (int slot = 0; slot < lists.pending_count; ++slot) scan_slot(d, lists, has_finish, s, slot);
    while (lists.pending_count > 0) {
        int slot = cheapest_slot(lists, s);
        int p;
        if (slot < 0) {
            slot = 0;
            p = position_count(lists, has_finish) - 1;
        } else {
            p = s.first_pos[slot];
        }
        insert_slot(d, lists, has_finish, s, slot, p);
    }
}

}  // namespace

void seed_between(const DistanceTable& distance, int city_count, bool has_finish, RouteLists& lists) {
    const int robot = city_count;
    lists.route[0] = robot;
    lists.route_len = 1;
    if (has_finish) lists.route[lists.route_len++] = city_count + 1;
    lists.pending_count = 0;
    if (city_count == 0) return;
    // The nearest city; the first one when no distance is a number.
    int nearest = 0;
    bool found = false;
    for (int c = 0; c < city_count; ++c) {
        const double dc = distance[c][robot];
        if (found ? dc < distance[nearest][robot] : dc == dc) {
            nearest = c;
            found = true;
        }
    }
    for (int c = 0; c < city_count; ++c) {
        if (c != nearest) pending_push(lists, c);
    }
    lists.pending[lists.pending_count] = nearest;
    route_insert_after(lists, 0, lists.pending_count);
}

void insert_all_between(const DistanceTable& distance, bool has_finish, RouteLists& lists, InsertionScratch& scratch) {
    place_all(distance, lists, has_finish, scratch);
}

void reinsert_between(const DistanceTable& distance, bool has_finish, RouteLists& lists, InsertionScratch& scratch) {
    for (int k = 1; k < lists.route_len - 1; ++k) {
        pending_push(lists, lists.route[k]);
        route_remove_at(lists, k);
        place_all(distance, lists, has_finish, scratch);
    }
}

}  // namespace corvelanth
