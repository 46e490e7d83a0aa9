// Sends the binding's solver calls to the straightforward oracle, so that the
// unchanged binding builds into a second extension to benchmark against. The
// opt-in improvement is the solver's own: it has no plain counterpart.
#include "oracle_solver.h"
#include "route_solver.h"
#include "run_report.h"

namespace corvelanth {

Outcome solve_route(Workspace& ws, const Point* cities, int city_count, Point robot) {
    return oracle::solve_route(ws, cities, city_count, robot);
}

char* write_run_report(const Workspace& ws, int city_count, int route_len, char* out) {
    return oracle::write_run_report(ws, city_count, route_len, out);
}

// The oracle's report; a finish is not listed, which only routes the oracle
// does not plan have.
char* write_plan_report(const Workspace& ws, int city_count, bool has_finish, int route_len, char* out) {
    return oracle::write_run_report(ws, city_count, route_len, out);
}

double route_travel(const double (*distance)[TABLE_SLOTS], const int* route, int route_len) {
    double travel = 0.0;
    for (int p = 0; p + 1 < route_len; ++p) travel += distance[route[p]][route[p + 1]];
    return travel;
}

double route_travel(const Workspace& ws, int route_len) {
    return route_travel(ws.distance, ws.lists.route, route_len);
}

}  // namespace corvelanth
