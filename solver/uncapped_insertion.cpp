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
// slot keeps a window of its two cheapest positions; an insertion after
// position p loses position p, shifts the later ones up by one and offers two
// new ones, p and p + 1, so a slot is scanned again only when it loses its
// cheapest position with no second one known.
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

// True when (cost, pos) comes before (other_cost, other_pos); a cost that is
// a number comes before NO_POSITION, and a NaN cost never comes first.
inline bool before(double cost, int pos, double other_cost, int other_pos) {
    if (!(cost == cost)) return false;
    return other_pos == NO_POSITION || cost < other_cost || (cost == other_cost && pos < other_pos);
}

// Puts candidate (cost, pos) into slot's window of its two cheapest positions.
inline void offer(InsertionScratch& s, int slot, int pos, double cost) {
    if (!before(cost, pos, s.second_cost[slot], s.second_pos[slot])) return;
    if (before(cost, pos, s.first_cost[slot], s.first_pos[slot])) {
        s.second_cost[slot] = s.first_cost[slot];
        s.second_pos[slot] = s.first_pos[slot];
        s.first_cost[slot] = cost;
        s.first_pos[slot] = pos;
    } else {
        s.second_cost[slot] = cost;
        s.second_pos[slot] = pos;
    }
}

// Scans every position for pending[slot] into its window.
void scan_slot(const DistanceTable& d, const RouteLists& lists, bool has_finish, InsertionScratch& s, int slot) {
    const int c = lists.pending[slot];
    const int positions = position_count(lists, has_finish);
    s.first_pos[slot] = s.second_pos[slot] = NO_POSITION;
    s.first_cost[slot] = s.second_cost[slot] = 0.0;
    for (int q = 0; q < positions; ++q) offer(s, slot, q, insertion_cost(d, lists, q, c));
}

// Brings slot's window up to date after an insertion after position p: the
// entry at p is lost and later ones move up by one, then the two new
// positions p and p + 1 are offered. A window (first, second) is one of:
// both NO_POSITION, no position has a cost that is a number; a first and
// NO_POSITION, the only such position; a first and a second equal to it, the
// cheapest, further positions unknown; or the two cheapest, further
// positions unknown. Losing the first of the third kind takes a fresh scan.
void update_slot(const DistanceTable& d, const RouteLists& lists, bool has_finish, InsertionScratch& s, int slot,
                 int p) {
    int p0 = s.first_pos[slot];
    int p1 = s.second_pos[slot];
    if (p0 == NO_POSITION) {
        // Nothing known to lose.
    } else if (p1 == NO_POSITION) {
        if (p0 == p) p0 = NO_POSITION;
    } else if (p1 == p0) {
        if (p0 == p) {
            scan_slot(d, lists, has_finish, s, slot);
            return;
        }
    } else if (p0 == p || p1 == p) {
        // One of the two is lost: the other is the cheapest, the rest unknown.
        if (p0 == p) {
            s.first_cost[slot] = s.second_cost[slot];
            p0 = p1;
        }
        s.second_cost[slot] = s.first_cost[slot];
        p1 = p0;
    }
    // NO_POSITION is below every position, so it never moves.
    if (p0 > p) ++p0;
    if (p1 > p) ++p1;
    s.first_pos[slot] = p0;
    s.second_pos[slot] = p1;
    const int c = lists.pending[slot];
    offer(s, slot, p, insertion_cost(d, lists, p, c));
    if (p + 1 < position_count(lists, has_finish)) offer(s, slot, p + 1, insertion_cost(d, lists, p + 1, c));
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
        s.second_cost[slot] = s.second_cost[last];
        s.second_pos[slot] = s.second_pos[last];
    }
    for (int k = 0; k < lists.pending_count; ++k) update_slot(d, lists, has_finish, s, k, p);
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
