// Route solver: limits, the caller's view of one solve, and the pipeline.
//
// A solve works on a Workspace (workspace.h) that the caller owns and may
// reuse for any number of solves, one at a time. Nothing here allocates,
// locks, prints or throws.
#ifndef CORVELANTH_ROUTE_SOLVER_H
#define CORVELANTH_ROUTE_SOLVER_H

namespace corvelanth {

// Largest city count a solve accepts.
constexpr int MAX_CITIES = 200;
// Capacity of the point table, the route and pending lists, and each
// dimension of the distance table: the cities, the robot and one spare.
constexpr int TABLE_SLOTS = MAX_CITIES + 2;
// Starting minimum of both searches: no distance or insertion cost at or
// above it is ever chosen.
constexpr double COST_CEILING = 30000.0;

struct Point {
    double x;
    double y;
};

// What one solve tells its caller, besides the route in the workspace.
struct Outcome {
    // Entries of the route list in use; 0 when no route could be started.
    int route_len = 0;
    // No city was below the ceiling from the robot: the caller reports
    // "Too few city.\n" and then "Error.\n".
    bool seed_failed = false;
    // How many insertion loops ended with nothing placeable: the caller
    // reports "No position.\n" that many times.
    int no_position_count = 0;
};

// A route to plan beyond the fixed open heuristic: one that ends at a
// finish, or travels on given costs, or both.
struct Problem {
    const Point* cities;
    int city_count;
    Point robot;
    // The route ends at this point (node city_count + 1) when given.
    const Point* finish = nullptr;
    // node_count x node_count costs, row after row, in place of the
    // straight-line distances when given; node_count counts the finish.
    const double* costs = nullptr;
};

struct Workspace;

// Solves `city_count` cities (at most MAX_CITIES) and the robot in `ws`; the
// route is ws.lists.route[0..route_len-1] and the cities never placed are
// ws.lists.pending[0..pending_count-1].
Outcome solve_route(Workspace& ws, const Point* cities, int city_count, Point robot);

// Plans `problem` in `ws`: the seed, cheapest insertion, the crossing sweep
// (skipped with costs, which have no geometry), the reinsertion pass and the
// sweep again, all keeping the finish last and placing every city. Without a
// finish or costs this is the fixed heuristic of the overload above, byte for
// byte, ceiling included.
Outcome plan_route(Workspace& ws, const Problem& problem);

// The open route's length: distance[route[p-1]][route[p]] summed over
// p = 1..route_len-1 in that order, as the run report sums it.
double route_travel(const double (*distance)[TABLE_SLOTS], const int* route, int route_len);
// route_travel of the route in `ws`.
double route_travel(const Workspace& ws, int route_len);

}  // namespace corvelanth

#endif
