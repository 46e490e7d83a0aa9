// Sends the binding's two solver calls to the straightforward baseline, so
// the unchanged binding builds into a second extension to benchmark against.
#include "baseline_solver.h"
#include "route_solver.h"
#include "run_report.h"

namespace corvelanth {

int solve_route(int count) { return baseline::solve_route(count); }

void write_run_report(std::FILE* out, int count, int len) { baseline::print_run_report(out, count, len); }

}  // namespace corvelanth
