// The solve pipeline: distances, seed, insertion, sweep, reinsertion, sweep.
#include "route_solver.h"

#include "route_steps.h"

namespace corvelanth {

Outcome solve_route(Workspace& ws, const Point* cities, int city_count, Point robot) {
    for (int i = 0; i < city_count; ++i) ws.points[i] = cities[i];
    ws.points[city_count] = robot;
    const int node_count = city_count + 1;
    build_distances(ws.points, node_count, ws.distance_scratch, ws.distance);

    Outcome outcome;
    RouteLists& lists = ws.lists;
    if (!seed_route(ws.distance, node_count, lists)) {
        outcome.seed_failed = true;
        return outcome;
    }
    outcome.no_position_count += insert_all(ws.distance, lists, ws.insertion) ? 0 : 1;
    uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    outcome.no_position_count += reinsert_interior(ws.distance, lists, ws.insertion);
    uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    outcome.route_len = lists.route_len;
    return outcome;
}

double route_travel(const double (*distance)[TABLE_SLOTS], const int* route, int route_len) {
    double travel = 0.0;
    for (int p = 1; p < route_len; ++p) travel += distance[route[p - 1]][route[p]];
    return travel;
}

double route_travel(const Workspace& ws, int route_len) {
    return route_travel(ws.distance, ws.lists.route, route_len);
}

}  // namespace corvelanth
