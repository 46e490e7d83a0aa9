// Route improvement: iterated local search on a route from a fixed start,
// open or ending at a fixed finish.
//
// improve_route() takes a route the pipeline built and closes it into a tour
// through its end (a virtual one at distance 0 for an open route), with the
// edge from the end back to the start kept. The search of an open route, or of
// one to a finish away from its start, also descends from a greedy-edge route
// and goes on from the shorter of the two local optima; the result is still
// never longer than the input. It shortens that tour with chains of up to five
// 2-opt moves (a bounded Lin-Kernighan step that follows only its most
// promising open step) and Or-opt moves of 1 to 5 cities, driven by
// neighbour lists and a queue of nodes to look at, then repeats a kick
// (three consecutive segments of the tour reordered, the end free to move with
// them) followed by local search, for a fixed number of kicks; a local search
// that leads back to the tour the kick started from stops there. After each
// other kick a partition crossover takes into the best route every piece in
// which the kicked tour is shorter. A budget above a few hundred kicks runs as
// several independent searches from fresh starts, merged the same way; with
// two starts, every other search begins from the local optimum not taken.
// Or-opt moves take each node's nearest neighbours. Chains take a list that
// looks every way: when the caller gives the places behind a straight-line
// table, the two nearest in each quadrant around the node first; otherwise
// the nearest that no nearer listed node shadows (is nearer to) first.
// Everything it needs lives in a caller-owned ImprovementScratch; a call
// allocates nothing and gives the same route for the same input and budget on
// every machine.
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
// A chain list starts with the nearest this many of each quadrant around
// its node, when the search knows the places...
constexpr int QUADRANT_NEIGHBOURS = 2;
// ...and otherwise with up to this many nodes, each the nearest that none
// before it shadows (is nearer to); the rest of it are the nearest others.
constexpr int UNSHADOWED_NEIGHBOURS = 4;
// Budget of a call by default, in plain kicks: the search spends it on a
// third as many kicks with chains, in a little less time than the previous
// search's 1200 plain kicks took (3.4 ms for 200 cities, pipeline included).
constexpr int DEFAULT_KICKS = 480;
// Budget of a thorough search, about five and a half times the default's time.
constexpr int THOROUGH_KICKS = 3300;
// Seed of the kick generator by default.
constexpr std::uint64_t DEFAULT_IMPROVEMENT_SEED = 0x2545F4914F6CDD1Dull;

struct ImprovementScratch;

// A candidate edge of the greedy-edge start, as one sort key: the bits of its
// length (which order as the lengths do, none being negative), then its
// smaller node in the high half of `ends` and its larger in the low half.
struct GreedyEdge {
    std::uint64_t length_bits;
    std::uint32_t ends;
};

// Called after every change the search makes to its tour (moves and kicks)
// with the length it keeps by adding deltas and the edge-set hash it keeps
// alike, for tests that check both against a fresh computation.
using ChangeHook = void (*)(const ImprovementScratch& scratch, double cost, std::uint64_t tour_hash);

// How much work a call does: a count of plain kicks, never wall time. Each
// kick the search makes, with its chains, counts as a few of them.
struct ImprovementBudget {
    int kicks = DEFAULT_KICKS;
    std::uint64_t seed = DEFAULT_IMPROVEMENT_SEED;
    ChangeHook change_hook = nullptr;  // for tests: null in real searches
};

// What may end a slice of the search before its budget is spent. Both are
// looked at between kicks; a kick and its local search take microseconds,
// the fresh start of an independent run well under a millisecond.
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
    int kicks_done;
    int kicks;
    std::uint64_t generator;
    int island_kicks;             // kicks of one independent run, 0 for one run only
    double start_cost;            // length of the first local optimum, where runs start
    double other_start_cost;      // length of the other start's local optimum, 0 for none
    double elite_cost;            // length of the best route of all runs, merged
    int polish_kicks;             // the last kicks, which polish the elite; 0 for none
    int disputed_count;           // nodes in ImprovementScratch::disputed
    bool polishing;               // the last kicks, from the elite, aimed at disputed nodes
    std::uint64_t tour_hash;      // hash of the current tour's edge set (edge_key)
    std::uint64_t accepted_hash;  // the same for the accepted tour
    ChangeHook change_hook;       // the budget's, null but in tests
};

// Working arrays of one improvement, reused across calls. About 450 KB: keep
// it in static or heap storage, not on a thread's stack. Nodes are numbered
// locally by their position in the input route. Local node `len` is the end:
// for an open route a virtual one at distance 0 from every node, otherwise
// the route's fixed finish. The search works on the tour of local nodes
// 0..len, whose edge between the end and the start never changes; the route
// is that tour walked from the start away from the end.
struct ImprovementScratch {
    SearchState state;
    int input_route[TABLE_SLOTS];                      // the caller's node of each local node
    double distance[TABLE_SLOTS][TABLE_SLOTS];         // local distances, the end included
    int neighbours[TABLE_SLOTS][NEIGHBOUR_COUNT + 1];  // a virtual end first, then nearest first
    double neighbour_distance[TABLE_SLOTS][NEIGHBOUR_COUNT + 1];
    int neighbour_count[TABLE_SLOTS];  // of both lists
    // The chains' lists, as long, spread by quadrant or by shadow.
    int chain_neighbours[TABLE_SLOTS][NEIGHBOUR_COUNT + 1];
    double chain_distance[TABLE_SLOTS][NEIGHBOUR_COUNT + 1];
    int order[2 * TABLE_SLOTS];  // current tour in local nodes, either direction, twice: order[p + n] = order[p]
    int position[TABLE_SLOTS];   // position of each local node in order
    int accepted[TABLE_SLOTS];   // tour the next kick starts from
    int best[TABLE_SLOTS];       // shortest route seen, from the start, best[len] = the end
    int queue[TABLE_SLOTS];      // ring of local nodes to look at
    unsigned char queued[TABLE_SLOTS];
    int segment_buffer[TABLE_SLOTS];  // kick reordering and the output route
    int start_route[TABLE_SLOTS];     // the first local optimum, from the start
    int other_start[TABLE_SLOTS];     // the local optimum of the start not taken, where every other run starts
    int elite[TABLE_SLOTS];           // best route of all runs so far, merged
    int island[TABLE_SLOTS];          // a finished run's best route
    int disputed[TABLE_SLOTS];        // nodes whose neighbours in some run's best differ from the elite's
    unsigned char disputed_mark[TABLE_SLOTS];
    int best_mate[TABLE_SLOTS][2];   // merge: each node's two neighbours in the best route's tour
    int child_mate[TABLE_SLOTS][2];  // merge: the same in the tour being put together
    int merge_parent[TABLE_SLOTS];   // merge: union-find over the edges the tours differ in
    double merge_delta[TABLE_SLOTS];
    int merge_nodes[TABLE_SLOTS];
    unsigned char merge_mark[TABLE_SLOTS];
    // The greedy-edge start: candidate edges, each once, at most one per list entry.
    GreedyEdge greedy_edges[TABLE_SLOTS * (NEIGHBOUR_COUNT + 1)];
    int degree[TABLE_SLOTS];
    std::uint64_t node_key[TABLE_SLOTS];  // random odd keys whose products hash the tour's edges
};

// Improves route[0..len-1] in place: route[0] stays first, the route stays
// open and a permutation of the same nodes. `distance` is a symmetric table
// with row stride TABLE_SLOTS, finite for the nodes on the route. Returns
// route_travel() of the route left in place, which is never longer than the
// input: the input is kept unless the result is strictly shorter.
//
// `places`, when not null, are the places of the caller's nodes, indexed as
// the table is, for a table of straight-line distances between them: the
// chains' lists then go by quadrant. Null suits any table, and is what costs
// other than straight lines need.
double improve_route(const double (*distance)[TABLE_SLOTS], int* route, int len, ImprovementBudget budget,
                     ImprovementScratch& scratch, const Point* places = nullptr);

// Starts a search of route[0..len-1] (`distance` as for improve_route), with
// route[len-1] kept last when `fixed_end`, and runs its first local search.
void begin_improvement(const double (*distance)[TABLE_SLOTS], const int* route, int len, bool fixed_end,
                       ImprovementBudget budget, ImprovementScratch& scratch, const Point* places = nullptr);
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
