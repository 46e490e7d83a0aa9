// Sends the binding's solver calls to the straightforward oracle, so that the
// unchanged binding builds into a second extension to benchmark against.
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

}  // namespace corvelanth
