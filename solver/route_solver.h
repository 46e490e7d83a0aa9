// Route solver: process-wide problem tables and the solve pipeline.
//
// One instance lives in static tables that every solve overwrites. Callers
// write the city coordinates into point_table[0..count-1] and the robot into
// robot_position, call solve_route(count) and read the first `len` entries of
// route_list. Nothing here allocates, locks or throws.
#ifndef CORVELANTH_ROUTE_SOLVER_H
#define CORVELANTH_ROUTE_SOLVER_H

namespace corvelanth {

// Largest city count a solve accepts.
constexpr int MAX_CITIES = 200;
// Capacity of the point table, the route and pending lists, and each
// dimension of the distance table.
constexpr int TABLE_SLOTS = 202;
// Starting minimum of both searches: no distance or insertion cost at or
// above it is ever chosen.
constexpr double COST_CEILING = 30000.0;

struct Point {
    double x;
    double y;
};

// Slot k holds node k; slot `count` receives the robot when distances are built.
extern Point point_table[TABLE_SLOTS];
// The route's start, kept apart from the point table by the caller.
extern Point robot_position;
// Euclidean distances between nodes; only the leading n x n block is meaningful.
extern double distance_table[TABLE_SLOTS][TABLE_SLOTS];
// Node indices in visiting order; entry 0 is always the robot node.
extern int route_list[TABLE_SLOTS];
// Cities not on the route; slot order decides insertion ties.
extern int pending_list[TABLE_SLOTS];

// Copies the robot into point slot `count`, fills the distance table and
// returns the node count n = count + 1.
int build_distances(int count);

// Moves route entries after pos one place up and puts pending[slot] at pos + 1.
void route_insert_after(int& len, int pos, int slot);
// Drops route entry pos, moving the entries after it one place down.
void route_remove_at(int& len, int pos);
// Appends a city to the pending list and returns the new pending count.
int pending_push(int& pc, int city);
// Removes pending slot `slot` by moving the last entry into the gap.
void pending_remove_at(int& pc, int slot);

// Starts the route at the robot with the nearest city; 1, or -1 on failure.
int seed_route(int n, int& len, int& pc);
// Inserts the cheapest pending city at its cheapest position; the pending
// count afterwards, or -1 when nothing can be placed below the ceiling.
int insert_cheapest(int& len, int& pc);

// Runs insertion steps until nothing is pending or nothing can be placed.
void insert_all(int& len, int& pc);
// Takes out the city at each interior route position once and puts it back
// at its cheapest place; the position advances whatever place that was.
void reinsert_interior(int& len, int& pc);

// Sweeps once over route positions 0..m-1, reversing the span between each
// pair of properly crossing edges; always returns 0.
int uncross_route(int m);
// 1 when route edges i and j cross properly, else 0.
int edges_cross(int i, int j);
// Reverses route positions a..b in place; returns 1 without change when a > b.
int reverse_span(int a, int b);

// Runs the whole pipeline for `count` cities; the route length, or -1 when
// no route could be started.
int solve_route(int count);

}  // namespace corvelanth

#endif
