// The pipeline for a route that ends at a finish or travels on given costs:
// distances or the given costs, seed, insertion, [sweep], reinsertion, [sweep].
#include "route_solver.h"
#include "route_steps.h"

namespace corvelanth {

Outcome plan_route(Workspace& ws, const Problem& problem) {
    if (!problem.finish && !problem.costs) return solve_route(ws, problem.cities, problem.city_count, problem.robot);
    const int city_count = problem.city_count;
    for (int i = 0; i < city_count; ++i) ws.points[i] = problem.cities[i];
    ws.points[city_count] = problem.robot;
    const bool has_finish = problem.finish != nullptr;
    if (has_finish) ws.points[city_count + 1] = *problem.finish;
    const int node_count = city_count + (has_finish ? 2 : 1);
    if (problem.costs) {
        for (int a = 0; a < node_count; ++a) {
            for (int b = 0; b < node_count; ++b) ws.distance[a][b] = problem.costs[a * node_count + b];
            ws.distance[a][a] = 0.0;
        }
    } else {
        build_distances(ws.points, node_count, ws.distance_scratch, ws.distance);
    }

    RouteLists& lists = ws.lists;
    seed_between(ws.distance, city_count, has_finish, lists);
    insert_all_between(ws.distance, has_finish, lists, ws.insertion);
    if (!problem.costs) uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    reinsert_between(ws.distance, has_finish, lists, ws.insertion);
    if (!problem.costs) uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    Outcome outcome;
    outcome.route_len = lists.route_len;
    return outcome;
}

}  // namespace corvelanth
