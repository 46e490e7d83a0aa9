// The straightforward solver: the truth the differential test and the
// fuzzers hold the fast solver to, and the baseline its benchmarks are
// measured against.
//
// It works on the fast solver's workspace layout, so that both can solve one
// instance side by side, but shares none of its code. Every step is written
// out plainly: the full scan at every insertion step, one crossing test per
// edge pair, and the run report formatted line by line with snprintf.
#ifndef CORVELANTH_ORACLE_SOLVER_H
#define CORVELANTH_ORACLE_SOLVER_H

#include "route_solver.h"
#include "workspace.h"

namespace oracle {

using corvelanth::DistanceTable;
using corvelanth::Outcome;
using corvelanth::Point;
using corvelanth::RouteLists;
using corvelanth::Workspace;

// Fills the distance table by computing the upper triangle and mirroring it.
void build_distances(const Point* points, int node_count, corvelanth::DistanceScratch& scratch,
                     DistanceTable& distance);

// Moves route entries after pos one place up and puts pending[slot] at pos + 1.
void route_insert_after(RouteLists& lists, int pos, int slot);
// Drops route entry pos, moving the entries after it one place down.
void route_remove_at(RouteLists& lists, int pos);
// Appends a city to the pending list.
void pending_push(RouteLists& lists, int city);
// Removes pending slot `slot` by moving the last entry into the gap.
void pending_remove_at(RouteLists& lists, int slot);

// Starts the route at the robot with the nearest city; false on failure.
bool seed_route(const DistanceTable& distance, int node_count, RouteLists& lists);
// Scans every (position, pending slot) pair and inserts the cheapest; false
// when nothing can be placed below the ceiling.
bool insert_cheapest(const DistanceTable& distance, RouteLists& lists);
// Runs insertion steps until nothing is pending (true) or nothing can be placed (false).
bool insert_all(const DistanceTable& distance, RouteLists& lists, corvelanth::InsertionScratch& scratch);
// Takes out the city at each interior position once and reinserts it; how
// many insertion loops ended with nothing placeable.
int reinsert_interior(const DistanceTable& distance, RouteLists& lists, corvelanth::InsertionScratch& scratch);

// True when route edges i and j cross properly.
bool edges_cross(const Point* points, const int* route, int i, int j);
// Reverses route positions a..b in place; false without change when a > b.
bool reverse_span(int* route, int a, int b);
// One ascending sweep over the edge pairs of route positions 0..route_len-1.
void uncross_route(const Point* points, int* route, int route_len, corvelanth::SweepScratch& scratch);

// The whole pipeline, without the crossing sweeps when `uncross` is false.
Outcome solve_route(Workspace& ws, const Point* cities, int city_count, Point robot, bool uncross = true);

// A route with a finish or given costs: the same steps with a full scan at
// every insertion, no ceiling, every city placed and nothing after the finish.
Outcome plan_route(Workspace& ws, const corvelanth::Problem& problem);

// Formats the run report one line at a time with snprintf; returns the end.
char* write_run_report(const Workspace& ws, int city_count, int route_len, char* out);

}  // namespace oracle

#endif
