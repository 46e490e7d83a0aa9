// The straightforward solver, kept as the oracle the fast solver must match
// byte for byte and as the baseline its benchmarks are measured against.
//
// It works on the same process-wide tables as the fast solver (route_solver.h),
// so both can be run one after the other on one loaded instance. Every step is
// written out plainly: the full cubic scan at every insertion step, one
// crossing test per edge pair, and the run report printed line by line.
#ifndef CORVELANTH_BASELINE_SOLVER_H
#define CORVELANTH_BASELINE_SOLVER_H

#include <cstdio>

#include "route_solver.h"

namespace baseline {

// Copies the robot into point slot `count`, fills the distance table by
// computing the upper triangle and mirroring it; returns n = count + 1.
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
// Scans every (position, pending slot) pair and inserts the cheapest; the
// pending count afterwards, or -1 when nothing can be placed below the ceiling.
int insert_cheapest(int& len, int& pc);
// Runs insertion steps until nothing is pending or nothing can be placed.
void insert_all(int& len, int& pc);
// Takes out the city at each interior position once and reinserts it.
void reinsert_interior(int& len, int& pc);

// 1 when route edges i and j cross properly, else 0.
int edges_cross(int i, int j);
// Reverses route positions a..b in place; returns 1 without change when a > b.
int reverse_span(int a, int b);
// One ascending sweep over the edge pairs of route positions 0..m-1; returns 0.
int uncross_route(int m);

// The whole pipeline for `count` cities; the route length, or -1.
int solve_route(int count);

// Writes the run report with one fprintf per line, as printf would to stdout.
void print_run_report(std::FILE* out, int count, int len);

}  // namespace baseline

#endif
