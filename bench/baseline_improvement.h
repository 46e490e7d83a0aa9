// Today's search before the chain moves, kept verbatim (namespace aside) so that
// bench/quality_tune.cpp measures both side by side in one run. Not a product file.
#ifndef CORVELANTH_BASELINE_IMPROVEMENT_H
#define CORVELANTH_BASELINE_IMPROVEMENT_H
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "route_solver.h"
namespace baseline_search {
using corvelanth::MAX_CITIES;
using corvelanth::route_travel;
using corvelanth::TABLE_SLOTS;

// Nearest neighbours kept per node; fewer break down on clustered instances.
constexpr int NEIGHBOUR_COUNT = 10;
// Kicks per call by default: about 4 ms for 200 cities (pipeline included) and
// under 0.3% above the best known there; small routes reach the best known far
// sooner. 1000 kicks save a sixth of the time for about 0.32% at 200 cities.
constexpr int DEFAULT_KICKS = 1200;
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

namespace {

// Longest segment an Or-opt move carries.
constexpr int OR_OPT_MAX = 3;
// Longest segment a kick reorders. Lengths are drawn skewed towards short
// segments (kick_length); up to 80 that way measured better, especially in the
// worst case, than uniform lengths up to 30 or 50.
constexpr int KICK_SEGMENT_MAX = 80;
// A kicked route is kept as the next start when within this factor of the best.
// 0.4% measured better than 0.1% or 0.2% at 150-200 cities: the search walks
// further before it is pulled back.
constexpr double ACCEPT_FACTOR = 1.004;
// Moves one local search may make per route node, a bound against cycling on
// rounding noise; real searches use a small fraction of it.
constexpr int MOVES_PER_NODE = 64;

// Fixed-seed 64-bit generator (splitmix64): same sequence everywhere.
struct Generator {
    std::uint64_t state;
};

// Next 64 random bits.
inline std::uint64_t next_bits(Generator& g) {
    std::uint64_t z = (g.state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Uniform-enough integer in 0..bound-1 for bound >= 1.
inline int next_below(Generator& g, int bound) {
    return static_cast<int>(next_bits(g) % static_cast<std::uint64_t>(bound));
}

// A kick segment's length less one, in 0..bound-1: the smaller of two uniform
// draws, so short segments are common and long ones still occur.
inline int kick_length(Generator& g, int bound) {
    const int a = next_below(g, bound);
    const int b = next_below(g, bound);
    return a < b ? a : b;
}

// The search's state that travels together between its steps, loaded from
// the scratch's SearchState for one slice and stored back after it.
struct Search {
    ImprovementScratch& s;
    int len;         // route nodes; local node len is the end
    double epsilon;  // a move must shorten the route by more than this
    double cost;     // current route length, kept by adding move deltas
    int queue_head;
    int queue_size;
    int dirty_low;  // positions changed since the last accept or restore
    int dirty_high;
};

// Distance between two local nodes.
inline double dist(const Search& q, int a, int b) {
    return q.s.distance[a][b];
}

// Puts a route node on the queue unless it is there or is the end.
inline void push(Search& q, int node) {
    if (node == q.len || q.s.queued[node]) return;
    q.s.queued[node] = 1;
    int tail = q.queue_head + q.queue_size;
    if (tail >= TABLE_SLOTS) tail -= TABLE_SLOTS;
    q.s.queue[tail] = node;
    ++q.queue_size;
}

// Takes the node at the head of the queue.
inline int pop(Search& q) {
    const int node = q.s.queue[q.queue_head];
    if (++q.queue_head == TABLE_SLOTS) q.queue_head = 0;
    --q.queue_size;
    q.s.queued[node] = 0;
    return node;
}

// Widens the range of positions changed since the last accept or restore.
inline void mark_dirty(Search& q, int lo, int hi) {
    if (lo < q.dirty_low) q.dirty_low = lo;
    if (hi > q.dirty_high) q.dirty_high = hi;
}

// Reverses positions lo..hi of the route (never position 0 or len).
void reverse_positions(Search& q, int lo, int hi) {
    if (lo >= hi) return;
    mark_dirty(q, lo, hi);
    int* order = q.s.order;
    int* position = q.s.position;
    while (lo < hi) {
        const int a = order[lo];
        const int b = order[hi];
        order[lo] = b;
        position[b] = lo;
        order[hi] = a;
        position[a] = hi;
        ++lo;
        --hi;
    }
}

// Moves positions first..last (at most OR_OPT_MAX) so that they sit between
// position `after` and the one following it, reversed when asked; `after` lies
// outside first-1..last. The cities in between shift by the segment's length.
void move_segment(Search& q, int first, int last, int after, bool reversed) {
    int* order = q.s.order;
    int* position = q.s.position;
    const int length = last - first + 1;
    int carried[OR_OPT_MAX];
    for (int k = 0; k < length; ++k) carried[k] = order[reversed ? last - k : first + k];
    int place;
    if (after > last) {
        mark_dirty(q, first, after);
        for (int p = last + 1; p <= after; ++p) {
            order[p - length] = order[p];
            position[order[p]] = p - length;
        }
        place = after - length + 1;
    } else {
        mark_dirty(q, after + 1, last);
        for (int p = first - 1; p > after; --p) {
            order[p + length] = order[p];
            position[order[p]] = p + length;
        }
        place = after + 1;
    }
    for (int k = 0; k < length; ++k) {
        order[place + k] = carried[k];
        position[carried[k]] = place + k;
    }
}

// Tries the 2-opt moves that give node a a new neighbour from its list; applies
// the first that shortens the route.
bool try_two_opt(Search& q, int a) {
    const int* order = q.s.order;
    const int* position = q.s.position;
    const int i = position[a];
    const int* near = q.s.neighbours[a];
    const double* near_d = q.s.neighbour_distance[a];
    const int count = q.s.neighbour_count[a];
    {
        // Replace (a, succ a) and (c, succ c) by (a, c) and (succ a, succ c).
        // With a last before the end, only c before a can qualify: a virtual
        // end's edge has length 0 and ends the scan at once.
        const int b = order[i + 1];
        const double dab = dist(q, a, b);
        for (int k = 0; k < count; ++k) {
            const double dac = near_d[k];
            if (dac >= dab) break;
            const int c = near[k];
            if (c == q.len) continue;
            const int j = position[c];
            const int sc = order[j + 1];
            if (sc == a) continue;
            const double delta = dac + dist(q, b, sc) - dab - dist(q, c, sc);
            if (delta < -q.epsilon) {
                if (j > i) {
                    reverse_positions(q, i + 1, j);
                } else {
                    reverse_positions(q, j + 1, i);
                }
                q.cost += delta;
                push(q, a), push(q, b), push(q, c), push(q, sc);
                return true;
            }
        }
    }
    if (i >= 1) {
        // Replace (pred a, a) and (pred c, c) by (a, c) and (pred a, pred c).
        const int p = order[i - 1];
        const double dap = dist(q, a, p);
        for (int k = 0; k < count; ++k) {
            const double dac = near_d[k];
            if (dac >= dap) break;
            const int c = near[k];
            const int j = position[c];
            if (j == 0) continue;
            const int pc = order[j - 1];
            if (pc == a) continue;
            const double delta = dac + dist(q, p, pc) - dap - dist(q, c, pc);
            if (delta < -q.epsilon) {
                if (j > i) {
                    reverse_positions(q, i, j - 1);
                } else {
                    reverse_positions(q, j, i - 1);
                }
                q.cost += delta;
                push(q, a), push(q, p), push(q, c), push(q, pc);
                return true;
            }
        }
    }
    return false;
}

// Tries moving the segment first..last (a is one of its ends) next to a
// neighbour of a, in either orientation; applies the first move that shortens
// the route.
bool try_segment_move(Search& q, int a, int first, int last) {
    const int* order = q.s.order;
    const int* position = q.s.position;
    const int head = order[first];
    const int tail = order[last];
    const int other = head == a ? tail : head;
    const int p = order[first - 1];
    const int nx = order[last + 1];
    const double removal = dist(q, p, head) + dist(q, tail, nx) - dist(q, p, nx);
    if (removal <= q.epsilon) return false;
    const int* near = q.s.neighbours[a];
    const double* near_d = q.s.neighbour_distance[a];
    const int count = q.s.neighbour_count[a];
    for (int k = 0; k < count; ++k) {
        const double dac = near_d[k];
        if (dac >= removal) break;
        const int c = near[k];
        const int j = position[c];
        if (j >= first && j <= last) continue;
        // c before the segment's new place: c, a, ..., other, succ c.
        if (c != q.len && j != first - 1) {
            const int v = order[j + 1];
            const double delta = dac + dist(q, other, v) - dist(q, c, v) - removal;
            if (delta < -q.epsilon) {
                move_segment(q, first, last, j, a != head);
                q.cost += delta;
                push(q, p), push(q, nx), push(q, head), push(q, tail), push(q, c), push(q, v);
                return true;
            }
        }
        // c after it: pred c, other, ..., a, c.
        if (j != 0 && j != last + 1) {
            const int u = order[j - 1];
            const double delta = dist(q, u, other) + dac - dist(q, u, c) - removal;
            if (delta < -q.epsilon) {
                move_segment(q, first, last, j - 1, a != tail);
                q.cost += delta;
                push(q, p), push(q, nx), push(q, head), push(q, tail), push(q, u), push(q, c);
                return true;
            }
        }
    }
    return false;
}

// Tries the Or-opt moves of segments of 1 to OR_OPT_MAX cities that start or end at a.
bool try_or_opt(Search& q, int a) {
    const int i = q.s.position[a];
    if (i == 0) return false;
    for (int length = 1; length <= OR_OPT_MAX; ++length) {
        if (i + length - 1 <= q.len - 1 && try_segment_move(q, a, i, i + length - 1)) return true;
        if (length > 1 && i - length + 1 >= 1 && try_segment_move(q, a, i - length + 1, i)) {
            return true;
        }
    }
    return false;
}

// Runs local search until no queued node has an improving move, or the move bound is reached.
void run_queue(Search& q) {
    int moves_left = MOVES_PER_NODE * q.len;
    while (q.queue_size > 0 && moves_left > 0) {
        const int a = pop(q);
        if (try_two_opt(q, a) || try_or_opt(q, a)) --moves_left;
    }
    while (q.queue_size > 0) pop(q);
}

// Fills the local distance table (the end included) and each node's neighbour
// list. A virtual end heads every list; a fixed one is listed by its distance
// like any other node.
void prepare_tables(Search& q, const double (*distance)[TABLE_SLOTS], const int* route, bool fixed_end) {
    const int len = q.len;
    ImprovementScratch& s = q.s;
    const int real = fixed_end ? len + 1 : len;
    for (int a = 0; a < real; ++a) {
        const double* row = distance[route[a]];
        double* local = s.distance[a];
        for (int b = 0; b < real; ++b) local[b] = row[route[b]];
        local[a] = 0.0;
    }
    if (!fixed_end) {
        for (int a = 0; a <= len; ++a) s.distance[a][len] = s.distance[len][a] = 0.0;
    }
    const int first = fixed_end ? 0 : 1;
    const int kept = NEIGHBOUR_COUNT + 1 - first;
    const int candidates = fixed_end ? len + 1 : len;
    for (int a = 0; a < len; ++a) {
        // Nearest first by (distance, local node), kept sorted by insertion.
        int* near = s.neighbours[a] + first;
        double* near_d = s.neighbour_distance[a] + first;
        int count = 0;
        const double* row = s.distance[a];
        for (int b = 0; b < candidates; ++b) {
            if (b == a) continue;
            const double d = row[b];
            if (count == kept && !(d < near_d[count - 1])) continue;
            int k = count < kept ? count++ : count - 1;
            while (k > 0 && d < near_d[k - 1]) {
                near[k] = near[k - 1];
                near_d[k] = near_d[k - 1];
                --k;
            }
            near[k] = b;
            near_d[k] = d;
        }
        if (!fixed_end) {
            s.neighbours[a][0] = len;
            s.neighbour_distance[a][0] = 0.0;
        }
        s.neighbour_count[a] = count + first;
    }
}

// Reorders three consecutive segments of 1 to KICK_SEGMENT_MAX cities at a
// random place and queues the nodes at the changed edges.
void kick(Search& q, Generator& g) {
    const int movable = q.len - 1;  // positions 1..len-1
    int* order = q.s.order;
    int* position = q.s.position;
    const int cap = movable < KICK_SEGMENT_MAX ? movable : KICK_SEGMENT_MAX;
    const int l1 = 1 + kick_length(g, movable - 2 < cap ? movable - 2 : cap);
    const int room2 = movable - l1 - 1 < cap ? movable - l1 - 1 : cap;
    const int l2 = 1 + kick_length(g, room2 < 1 ? 1 : room2);
    const int room3 = movable - l1 - l2 < cap ? movable - l1 - l2 : cap;
    const int l3 = 1 + kick_length(g, room3 < 1 ? 1 : room3);
    const int start = 1 + next_below(g, movable - (l1 + l2 + l3) + 1);
    const int s2 = start + l1;
    const int s3 = s2 + l2;
    const int end = s3 + l3;  // first position after the three segments
    const int before = order[start - 1];
    const int after = order[end];
    const int h1 = order[start], t1 = order[s2 - 1];
    const int h2 = order[s2], t2 = order[s3 - 1];
    const int h3 = order[s3], t3 = order[end - 1];
    // Segments 1 2 3 become 3 2 1: all four boundary edges change, orientations kept.
    const double removed = dist(q, before, h1) + dist(q, t1, h2) + dist(q, t2, h3) + dist(q, t3, after);
    const double added = dist(q, before, h3) + dist(q, t3, h2) + dist(q, t2, h1) + dist(q, t1, after);
    int* buffer = q.s.segment_buffer;
    int w = 0;
    for (int p = s3; p < end; ++p) buffer[w++] = order[p];
    for (int p = s2; p < s3; ++p) buffer[w++] = order[p];
    for (int p = start; p < s2; ++p) buffer[w++] = order[p];
    for (int k = 0; k < w; ++k) {
        order[start + k] = buffer[k];
        position[buffer[k]] = start + k;
    }
    mark_dirty(q, start, end - 1);
    q.cost += added - removed;
    push(q, before), push(q, after);
    push(q, h1), push(q, t1), push(q, h2), push(q, t2), push(q, h3), push(q, t3);
}

// Makes the current route the one later kicks start from.
void accept_current(Search& q) {
    if (q.dirty_low <= q.dirty_high) {
        std::memcpy(q.s.accepted + q.dirty_low, q.s.order + q.dirty_low,
                    sizeof(int) * static_cast<size_t>(q.dirty_high - q.dirty_low + 1));
    }
    q.dirty_low = q.len;
    q.dirty_high = -1;
}

// Puts the accepted route back in place of the current one.
void restore_accepted(Search& q) {
    for (int p = q.dirty_low; p <= q.dirty_high; ++p) {
        const int node = q.s.accepted[p];
        q.s.order[p] = node;
        q.s.position[node] = p;
    }
    q.dirty_low = q.len;
    q.dirty_high = -1;
}

// Length of the current route in local distances, summed from the start; the
// leg into a virtual end is left out.
double local_travel(const Search& q, const int* order, bool fixed_end) {
    double travel = 0.0;
    const int last = fixed_end ? q.len : q.len - 1;
    for (int p = 1; p <= last; ++p) travel += dist(q, order[p - 1], order[p]);
    return travel;
}

// The search as the scratch's state left it.
Search load_search(ImprovementScratch& scratch) {
    const SearchState& st = scratch.state;
    return Search{scratch, st.len, st.epsilon, st.cost, st.queue_head, st.queue_size, st.dirty_low, st.dirty_high};
}

// Stores what a slice changed of the search back into the scratch's state.
void store_search(const Search& q, SearchState& st) {
    st.cost = q.cost;
    st.queue_head = q.queue_head;
    st.queue_size = q.queue_size;
    st.dirty_low = q.dirty_low;
    st.dirty_high = q.dirty_high;
}

// True once a limit says the slice is over.
bool slice_over(const SearchLimits& limits) {
    if (limits.stop && limits.stop->load(std::memory_order_relaxed)) return true;
    return limits.until != std::chrono::steady_clock::time_point::max() &&
           std::chrono::steady_clock::now() >= limits.until;
}

}  // namespace

inline void begin_improvement(const double (*distance)[TABLE_SLOTS], const int* route, int len, bool fixed_end,
                              ImprovementBudget budget, ImprovementScratch& scratch) {
    SearchState& st = scratch.state;
    st.route_len = len;
    st.fixed_end = fixed_end;
    st.input_travel = route_travel(distance, route, len);
    st.kicks_done = 0;
    st.kicks = budget.kicks;
    st.generator = budget.seed;
    std::memcpy(scratch.input_route, route, sizeof(int) * static_cast<size_t>(len));
    // Local route nodes: all but a fixed finish, which becomes the end.
    const int nodes = fixed_end ? len - 1 : len;
    st.len = nodes;
    if (nodes <= 2 || nodes + 1 > TABLE_SLOTS) {
        // Nothing to move: the input is the only route.
        st.len = -1;
        return;
    }

    Search q{scratch, nodes, 0.0, 0.0, 0, 0, nodes, -1};
    prepare_tables(q, distance, route, fixed_end);
    // Deltas are sums of a few edges; a tiny fraction of the mean edge separates
    // real gains from rounding noise and from ties between equal lengths.
    q.epsilon = 1e-9 * (st.input_travel / (len - 1));
    for (int p = 0; p <= nodes; ++p) {
        scratch.order[p] = p;
        scratch.position[p] = p;
        scratch.queued[p] = 0;
    }
    q.cost = st.input_travel;
    for (int p = 0; p < nodes; ++p) push(q, p);
    run_queue(q);
    q.cost = local_travel(q, scratch.order, fixed_end);

    std::memcpy(scratch.accepted, scratch.order, sizeof(int) * static_cast<size_t>(nodes + 1));
    std::memcpy(scratch.best, scratch.order, sizeof(int) * static_cast<size_t>(nodes + 1));
    q.dirty_low = nodes;
    q.dirty_high = -1;
    st.epsilon = q.epsilon;
    st.best_cost = q.cost;
    st.accepted_cost = q.cost;
    store_search(q, st);
    // Kicks need three segments to reorder.
    if (nodes < 4) st.kicks = 0;
}

inline bool run_improvement(ImprovementScratch& scratch, const SearchLimits& limits) {
    SearchState& st = scratch.state;
    if (st.len < 0 || st.kicks_done >= st.kicks) return true;
    Search q = load_search(scratch);
    Generator g{st.generator};
    const int len = q.len;
    bool done = false;
    while (!slice_over(limits)) {
        if (st.kicks_done >= st.kicks) {
            done = true;
            break;
        }
        ++st.kicks_done;
        kick(q, g);
        run_queue(q);
        bool keep = false;
        if (q.cost < st.best_cost - q.epsilon) {
            // Re-sum so drift from adding deltas never reaches the best length.
            q.cost = local_travel(q, scratch.order, st.fixed_end);
            if (q.cost < st.best_cost) {
                st.best_cost = q.cost;
                std::memcpy(scratch.best, scratch.order, sizeof(int) * static_cast<size_t>(len));
                keep = true;
            }
        }
        if (keep || q.cost < st.best_cost * ACCEPT_FACTOR) {
            st.accepted_cost = q.cost;
            accept_current(q);
        } else {
            q.cost = st.accepted_cost;
            restore_accepted(q);
        }
    }
    st.generator = g.state;
    store_search(q, st);
    return done;
}

inline double best_improved_route(const double (*distance)[TABLE_SLOTS], const ImprovementScratch& scratch, int* out) {
    const SearchState& st = scratch.state;
    if (st.len < 0) {
        std::memcpy(out, scratch.input_route, sizeof(int) * static_cast<size_t>(st.route_len));
    } else {
        for (int p = 0; p < st.len; ++p) out[p] = scratch.input_route[scratch.best[p]];
        if (st.fixed_end) out[st.len] = scratch.input_route[st.len];
    }
    return route_travel(distance, out, st.route_len);
}

inline double end_improvement(const double (*distance)[TABLE_SLOTS], int* route, ImprovementScratch& scratch) {
    const SearchState& st = scratch.state;
    int* candidate = scratch.segment_buffer;
    const double travel = best_improved_route(distance, scratch, candidate);
    if (!(travel < st.input_travel)) {
        std::memcpy(route, scratch.input_route, sizeof(int) * static_cast<size_t>(st.route_len));
        return st.input_travel;
    }
    std::memcpy(route, candidate, sizeof(int) * static_cast<size_t>(st.route_len));
    return travel;
}

inline double improve_route(const double (*distance)[TABLE_SLOTS], int* route, int len, ImprovementBudget budget,
                            ImprovementScratch& scratch) {
    if (len <= 2 || len > MAX_CITIES + 1) return route_travel(distance, route, len);
    begin_improvement(distance, route, len, false, budget, scratch);
    run_improvement(scratch, SearchLimits{});
    return end_improvement(distance, route, scratch);
}

}  // namespace baseline_search
#endif
