// The solver's whole state for one solve: the problem instance, the distance
// table, the route and pending lists, and every step's scratch. A caller owns
// one per thread and reuses it; the steps read and write only the parts their
// signatures name, and nothing in it outlives the solve it serves.
#ifndef CORVELANTH_WORKSPACE_H
#define CORVELANTH_WORKSPACE_H

#include <type_traits>

#include "route_improvement.h"
#include "route_solver.h"

namespace corvelanth {

// Euclidean distances between nodes, row-major; only the leading
// node_count x node_count block of a solve is meaningful.
using DistanceTable = double[TABLE_SLOTS][TABLE_SLOTS];

// The route in visiting order and the cities not on it.
struct RouteLists {
    // Node indices; entry 0 is always the robot node.
    int route[TABLE_SLOTS];
    // Cities not on the route; slot order decides insertion ties.
    int pending[TABLE_SLOTS];
    int route_len;
    int pending_count;
};

// Scratch of the insertion and reinsertion steps. Each pending slot keeps a
// window of its two cheapest known insertion positions (see
// cached_insertion.cpp), as four arrays indexed by slot so that packed loops
// read eight slots at once; a slot's entries move along with the slot.
struct InsertionScratch {
    alignas(64) double first_cost[TABLE_SLOTS];
    alignas(64) double second_cost[TABLE_SLOTS];
    alignas(64) int first_pos[TABLE_SLOTS];
    alignas(64) int second_pos[TABLE_SLOTS];
    // edge_length[q]: distance between route positions q and q + 1.
    alignas(64) double edge_length[TABLE_SLOTS];
    // Slots whose window lost both entries at the last insertion.
    int rescan_slots[TABLE_SLOTS];
};

// Scratch of the distance step: the coordinates as two arrays, so that a row
// is computed in streams.
struct DistanceScratch {
    double node_x[TABLE_SLOTS];
    double node_y[TABLE_SLOTS];
};

// Entries past the route's end that a packed sweep step may read.
constexpr int SWEEP_PADDING = 16;

// Scratch of a crossing sweep.
struct SweepScratch {
    // Route coordinates in visiting order, kept in step with the route; the
    // packed sweep reads up to SWEEP_PADDING entries past the route's end,
    // whatever they hold, and discards what it computes from them.
    double route_x[TABLE_SLOTS + SWEEP_PADDING];
    double route_y[TABLE_SLOTS + SWEEP_PADDING];
    // side_of[k]: which side of the current first edge route position k lies on.
    double side_of[TABLE_SLOTS];
};

struct Workspace {
    // Slot k holds node k; the robot is node city_count, the last one.
    Point points[TABLE_SLOTS];
    alignas(64) DistanceTable distance;
    RouteLists lists;
    DistanceScratch distance_scratch;
    InsertionScratch insertion;
    SweepScratch sweep;
    // The opt-in improvement's scratch, untouched by the fixed pipeline.
    ImprovementScratch improvement;
};

// Plain storage: a workspace may be zero-filled memory, and nothing needs
// running when it is freed.
static_assert(std::is_trivial<Workspace>::value, "Workspace must be plain storage");

}  // namespace corvelanth

#endif
