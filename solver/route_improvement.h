// Route improvement: iterated local search on a route from a fixed start,
// open or ending at a fixed finish.
//
// improve_route() takes a route the pipeline built and shortens it with 2-opt
// (including reversal of an open route's tail) and Or-opt moves of 1 to 3
// cities, driven by nearest-neighbour lists and a queue of nodes to look at,
// then repeats a kick (three consecutive segments reordered) followed by
// local search, for a fixed number of kicks. Everything it needs lives in a
// caller-owned ImprovementScratch; a call allocates nothing and gives the
// same route for the same input and budget on every machine.
//
// A caller that must be able to stop the search, or hear from it while it
// runs, drives it in slices instead: begin_improvement(), then
// run_improvement() until it returns true, reading best_improved_route() in
// between, and end_improvement(). Only a slice with a deadline reads the clock.
#ifndef CORVELANTH_ROUTE_IMPROVEMENT_H
#define CORVELANTH_ROUTE_IMPROVEMENT_H

#include <atomic>
#include <chrono>
#include <cstdint>

#include "route_solver.h"

namespace corvelanth {

// Nearest neighbours kept per node; fewer break down on clustered instances.
constexpr int NEIGHBOUR_COUNT = 10;
// Kicks per call by default: about 4 ms for 200 cities (pipeline included) and
// under 0.3% above the best known there; small routes reach the best known far
// sooner. 1000 kicks save a sixth of the time for about 0.32% at 200 cities.
constexpr int DEFAULT_KICKS = 1200;
// Kicks of a thorough search.
constexpr int THOROUGH_KICKS = 8000;
// Seed of the kick generator by default.
constexpr std::uint64_t DEFAULT_IMPROVEMENT_SEED = 0x2545F4914F6CDD1Dull;

// How much work a call does: a count of kicks, never wall time.
struct ImprovementBudget {
    int kicks = DEFAULT_KICKS;
    std::uint64_t seed = DEFAULT_IMPROVEMENT_SEED;
};

// What may end a slice of the search before its budget is spent. Both are
// looked at between kicks.
struct SearchLimits {
    // Set by another thread to stop the search.
    const std::atomic<bool>* stop = nullptr;
    // The slice returns once the steady clock has passed this.
    std::chrono::steady_clock::time_point until = std::chrono::steady_clock::time_point::max();
};

// The search's counters and lengths between two slices.
struct SearchState {
    int route_len;   // entries of the caller's route, finish included
    int len;         // local route nodes; local node len is the end
    bool fixed_end;  // the end is the caller's last node, not a virtual one
    double epsilon;  // a move must shorten the route by more than this
    double cost;     // current route length, kept by adding move deltas
    double best_cost;
    double accepted_cost;
    double input_travel;
    int queue_head;
    int queue_size;
    int dirty_low;  // positions changed since the last accept or restore
    int dirty_high;
    int kicks_done;
    int kicks;
    std::uint64_t generator;
};

// Working arrays of one improvement, reused across calls. About 350 KB: keep
// it in static or heap storage, not on a thread's stack. Nodes are numbered
// locally by their position in the input route. Local node `len` is the end:
// for an open route a virtual one at distance 0 from every node, which makes
// it a path between two fixed ends; otherwise the route's fixed finish.
struct ImprovementScratch {
    SearchState state;
    int input_route[TABLE_SLOTS];                      // the caller's node of each local node
    double distance[TABLE_SLOTS][TABLE_SLOTS];         // local distances, the end included
    int neighbours[TABLE_SLOTS][NEIGHBOUR_COUNT + 1];  // a virtual end first, then nearest first
    double neighbour_distance[TABLE_SLOTS][NEIGHBOUR_COUNT + 1];
    int neighbour_count[TABLE_SLOTS];
    int order[TABLE_SLOTS];     // current route in local nodes, order[len] = the end
    int position[TABLE_SLOTS];  // position of each local node in order
    int accepted[TABLE_SLOTS];  // route the next kick starts from
    int best[TABLE_SLOTS];      // shortest route seen
    int queue[TABLE_SLOTS];     // ring of local nodes to look at
    unsigned char queued[TABLE_SLOTS];
    int segment_buffer[TABLE_SLOTS];  // kick reordering and the output route
};

// Improves route[0..len-1] in place: route[0] stays first, the route stays
// open and a permutation of the same nodes. `distance` is a symmetric table
// with row stride TABLE_SLOTS, finite for the nodes on the route. Returns
// route_travel() of the route left in place, which is never longer than the
// input: the input is kept unless the result is strictly shorter.
double improve_route(const double (*distance)[TABLE_SLOTS], int* route, int len, ImprovementBudget budget,
                     ImprovementScratch& scratch);

// Starts a search of route[0..len-1] (`distance` as for improve_route), with
// route[len-1] kept last when `fixed_end`, and runs its first local search.
void begin_improvement(const double (*distance)[TABLE_SLOTS], const int* route, int len, bool fixed_end,
                       ImprovementBudget budget, ImprovementScratch& scratch);
// Runs kicks until the budget is spent, which returns true, or until a limit
// ends the slice, which returns false; the search can be continued.
bool run_improvement(ImprovementScratch& scratch, const SearchLimits& limits);
// The shortest route seen so far, in the caller's nodes, into
// out[0..route_len-1]; returns its route_travel() under `distance`.
double best_improved_route(const double (*distance)[TABLE_SLOTS], const ImprovementScratch& scratch, int* out);
// Puts the shortest route seen into route[] if it is strictly shorter than
// the input, which is there otherwise; returns the travel of what is there.
double end_improvement(const double (*distance)[TABLE_SLOTS], int* route, ImprovementScratch& scratch);

}  // namespace corvelanth

#endif
