// A plain, obviously-correct transcription of the route heuristics, kept as
// the oracle the fast solver must match exactly.
#ifndef CORVELANTH_REFERENCE_SOLVER_H
#define CORVELANTH_REFERENCE_SOLVER_H

#include <string>
#include <vector>

#include "route_solver.h"

namespace reference {

using corvelanth::Point;

struct Instance {
    std::vector<Point> cities;
    Point robot{0.0, 0.0};
};

struct Outcome {
    std::vector<int> route;    // empty when no route could be started
    int result = 0;            // what solve_route returns: the route length or -1
    std::string diagnostics;   // everything written to standard error
    std::vector<int> pending;  // cities never placed, in pending-slot order
};

struct Stages {
    bool uncross = true;  // run the two crossing sweeps
};

// Solves the instance with the full scans written out plainly.
Outcome solve(const Instance& instance, Stages stages = {});

}  // namespace reference

#endif
