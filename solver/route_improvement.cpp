// Route improvement: a bounded Lin-Kernighan step (chains of 2-opt moves) and
// Or-opt moves with neighbour lists and a queue of nodes to look at, inside an
// iterated local search whose kicks reorder three consecutive segments. After
// every kick a partition crossover takes into the best route each piece of
// the current tour that is shorter there; a longer budget runs as several
// independent searches from fresh starts whose best routes are merged alike.
// The last kicks of every budget polish the merged best, aimed where the runs
// disagree.
//
// The route 0, ..., end is closed into a tour of local nodes 0..len through
// the edge (end, 0), which no move or kick ever takes out: node len is the
// end, a fixed finish or for an open route a virtual node at distance 0 from
// everything. The tour is kept as a cyclic array order[0..n-1] with n = len + 1
// and its inverse position[]; its direction is whatever the last reversal
// left. The route is the tour walked from node 0 away from the end, and its
// length is the tour's less the kept edge, so every delta below is exact for
// the route. With the end an ordinary tour node, moves and kicks that change
// which city comes last are no different from any others.
#include "route_improvement.h"

#include <algorithm>
#include <cstring>

namespace corvelanth {

namespace {

// Longest segment an Or-opt move carries. Segments of four and five cost
// about a fifth more time per kick and find shorter routes for the same time:
// moving a stretch without reversing it is a move no short chain makes.
constexpr int OR_OPT_MAX = 5;
// 2-opt moves one Lin-Kernighan chain strings together at most.
constexpr int CHAIN_DEPTH = 5;
// Longest segment a kick reorders. Lengths are drawn skewed towards short
// segments (kick_length).
constexpr int KICK_SEGMENT_MAX = 80;
// A kicked route is kept as the next start when within this factor of the
// best: wider for a search of one run, which has to leave a basin on its own,
// than for one of several runs, whose fresh starts and merges do much of that.
constexpr double ACCEPT_FACTOR_ONE_RUN = 1.01;
constexpr double ACCEPT_FACTOR_RUNS = 1.004;
// The polish keeps a kicked route only when it is shorter than the best:
// every kick starts from the best route.
constexpr double ACCEPT_FACTOR_POLISH = 1.0;
// Budget units one kick costs: a budget counts plain 2-opt and Or-opt kicks,
// and a kick followed by chains takes about as long as three or four of them.
constexpr int KICK_COST = 3;
// Most kicks a budget spends as one search; the default's 160 are one.
constexpr int ONE_RUN_KICKS = 200;
// Kicks of one independent run: a longer budget is spent as several runs,
// each from a fresh start, whose best routes are merged. Runs that alternate
// between two starts find shorter routes in runs of 150 than of 200.
constexpr int ISLAND_KICKS = 150;
// Kicks applied at once, without local search between them, to make a run's fresh start.
constexpr int RESTART_KICKS = 10;
// The last kicks of a budget, an eighth of it and at most POLISH_KICKS,
// polish: they go on from the merged best of all runs, or of the one run and
// its start, and keep only shorter routes.
constexpr int POLISH_KICKS = 100;
constexpr int POLISH_SHARE = 8;
// Per cent of those kicks placed over a node where the runs' best routes
// disagree; the rest fall anywhere.
constexpr int POLISH_AIMED_PERCENT = 85;
// Seed of the node keys that hash a tour's edge set.
constexpr std::uint64_t EDGE_KEY_SEED = 0x6A09E667F3BCC909ull;
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
    int n;           // tour nodes, len + 1
    bool fixed_end;  // the end is a real node with its own distances
    double epsilon;  // a move must shorten the route by more than this
    double cost;     // current route length, kept by adding move deltas
    int queue_head;
    int queue_size;
    std::uint64_t hash;           // the tour's edge set, see edge_key
    std::uint64_t accepted_hash;  // the accepted tour's
};

// Distance between two local nodes.
inline double dist(const Search& q, int a, int b) {
    return q.s.distance[a][b];
}

// The node at tour position p, for p in -n..2n-1: the array holds the tour twice.
inline int node_at(const Search& q, int p) {
    if (p < 0) p += q.n;
    return q.s.order[p];
}

// The node after a in direction dir (+1 or -1) of the array.
inline int step(const Search& q, int a, int dir) {
    return q.s.order[q.s.position[a] + (dir > 0 ? 1 : q.n - 1)];
}

// True for the edge between the end and the start, which stays in the tour.
inline bool kept_edge(const Search& q, int a, int b) {
    return (a == 0 && b == q.len) || (a == q.len && b == 0);
}

// True when a and b are next to each other in the tour.
inline bool adjacent(const Search& q, int a, int b) {
    const int d = q.s.position[a] - q.s.position[b];
    return d == 1 || d == -1 || d == q.n - 1 || d == 1 - q.n;
}

// Hash term of the edge (a, b), the same both ways round. A tour's hash is
// the xor of its edges' terms, kept up to date by every change, so the search
// can tell in constant time that a kick's local search has led back to the
// accepted tour. Two different tours share a hash with chance about 2^-64;
// the search would then go on from that tour under the accepted one's
// length, while the best route, whose length is always summed afresh, stays
// exact.
inline std::uint64_t edge_key(const Search& q, int a, int b) {
    return q.s.node_key[a] * q.s.node_key[b];
}

// Sets the hash from the tour as it stands.
void rehash_tour(Search& q) {
    std::uint64_t h = 0;
    for (int p = 0; p < q.n; ++p) h ^= edge_key(q, q.s.order[p], q.s.order[p + 1]);
    q.hash = h;
}

// Tells the hook, if any, about the tour just changed.
inline void changed(const Search& q) {
    if (q.s.state.change_hook) q.s.state.change_hook(q.s, q.cost, q.hash);
}

// Puts a node on the queue unless it is there; a virtual end, whose edges all
// cost nothing, has no move of its own to look for.
inline void push(Search& q, int node) {
    if (q.s.queued[node] || (node == q.len && !q.fixed_end)) return;
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

// Reverses the tour path that runs forward (increasing positions, cyclically)
// from node `from` to node `to`, or the rest of the tour when that is shorter:
// either gives the same tour.
void reverse_path(Search& q, int from, int to) {
    int* order = q.s.order;
    int* position = q.s.position;
    const int n = q.n;
    int i = position[from];
    int j = position[to];
    int m = j - i;
    if (m < 0) m += n;
    ++m;
    if (2 * m > n) {
        i = j + 1 == n ? 0 : j + 1;
        j = position[from] == 0 ? n - 1 : position[from] - 1;
        m = n - m;
    }
    for (int k = m / 2; k > 0; --k) {
        const int a = order[i];
        const int b = order[j];
        order[i] = order[i + n] = b;
        position[b] = i;
        order[j] = order[j + n] = a;
        position[a] = j;
        if (++i == n) i = 0;
        if (--j < 0) j = n - 1;
    }
}

// Replaces tour edges (a, b) and (c, d), where b follows a and d follows c in
// one direction, by (a, c) and (b, d).
void two_opt_move(Search& q, int a, int b, int c, int d) {
    q.hash ^= edge_key(q, a, b) ^ edge_key(q, c, d) ^ edge_key(q, a, c) ^ edge_key(q, b, d);
    if (step(q, a, 1) == b) {
        reverse_path(q, b, c);
    } else {
        reverse_path(q, c, b);
    }
}

// One Lin-Kernighan chain being built from t1 in direction dir. Step k takes
// out the edge from t1 to the node after it (head[k]) and the edge
// (tail[k], link[k]), and puts in (head[k], link[k]) and (t1, tail[k]): a 2-opt
// move that reverses virtual positions 1..cut[k], where virtual position p is
// the node p steps from t1 in direction dir after the chain's earlier steps.
// Nothing is applied until the chain closes with a gain.
struct Chain {
    int t1;
    int dir;
    int base;  // position of t1
    int cut[CHAIN_DEPTH];
    int head[CHAIN_DEPTH];
    int link[CHAIN_DEPTH];
    int tail[CHAIN_DEPTH];
};

// Virtual position of node x after the first `steps` steps of the chain.
inline int virtual_position(const Search& q, const Chain& c, int steps, int x) {
    int p = c.dir > 0 ? q.s.position[x] - c.base : c.base - q.s.position[x];
    if (p < 0) p += q.n;
    for (int k = 0; k < steps; ++k) {
        if (p >= 1 && p <= c.cut[k]) p = c.cut[k] + 1 - p;
    }
    return p;
}

// Node at virtual position p after the first `steps` steps of the chain.
inline int virtual_node(const Search& q, const Chain& c, int steps, int p) {
    for (int k = steps - 1; k >= 0; --k) {
        if (p >= 1 && p <= c.cut[k]) p = c.cut[k] + 1 - p;
    }
    return node_at(q, c.base + c.dir * p);
}

// Applies the chain's first `steps` steps, which close with `gain`, and queues their nodes.
void apply_chain(Search& q, const Chain& c, int steps, double gain) {
    for (int s = 0; s < steps; ++s) two_opt_move(q, c.t1, c.head[s], c.tail[s], c.link[s]);
    q.cost -= gain;
    push(q, c.t1);
    for (int s = 0; s < steps; ++s) push(q, c.head[s]), push(q, c.link[s]), push(q, c.tail[s]);
    changed(q);
}

// Extends the chain by its step `depth`, whose head follows t1 and whose gain
// so far (edges out less edges in, the closing edge from t1 to head aside) is
// `gain`; applies the first chain of at most `max_depth` steps that closes
// shorter and returns true. A step that closes is taken before any deeper one,
// and only the open step with the largest gain so far is followed deeper.
bool extend_chain(Search& q, Chain& c, int depth, int max_depth, int head, double gain) {
    // A virtual end has no list: every edge from it costs nothing, so a chain
    // that takes one out closes with a gain at once and never gets here.
    const int* near = q.s.chain_neighbours[head];
    const double* near_d = q.s.chain_distance[head];
    const int count = q.s.neighbour_count[head];
    // The step that does not close but leaves the largest gain so far, the
    // first of equals: the only one the chain goes on with.
    int next_link = -1;
    int next_tail = -1;
    int next_p = -1;
    double next_gain = 0.0;
    c.head[depth] = head;
    for (int k = 0; k < count; ++k) {
        const double g = gain - near_d[k];
        if (g <= q.epsilon) break;  // lists are nearest first
        const int link = near[k];
        if (link == c.t1) continue;
        // A virtual end costs nothing to join, so it would pass at every depth:
        // only a chain's first step may reach it.
        if (depth > 0 && link == q.len && !q.fixed_end) continue;
        int p;
        int tail;
        if (depth == 0) {
            // Nothing moved yet: the virtual order is the tour's.
            tail = step(q, link, -c.dir);
            if (tail == head) continue;
            p = -1;
        } else {
            p = virtual_position(q, c, depth, link);
            if (p < 3) continue;
            tail = virtual_node(q, c, depth, p - 1);
            // Only edges of the tour as it stands may go.
            if (!adjacent(q, tail, link)) continue;
        }
        if (kept_edge(q, tail, link)) continue;
        const double g2 = g + dist(q, tail, link);
        const double closed = g2 - dist(q, tail, c.t1);
        if (closed > q.epsilon) {
            c.cut[depth] = p - 1;
            c.link[depth] = link;
            c.tail[depth] = tail;
            apply_chain(q, c, depth + 1, closed);
            return true;
        }
        if (next_link < 0 || g2 > next_gain) next_link = link, next_tail = tail, next_p = p, next_gain = g2;
    }
    if (next_link < 0 || depth + 1 >= max_depth) return false;
    if (next_p < 0) next_p = virtual_position(q, c, 0, next_link);
    c.cut[depth] = next_p - 1;
    c.link[depth] = next_link;
    c.tail[depth] = next_tail;
    return extend_chain(q, c, depth + 1, max_depth, next_tail, next_gain);
}

// Tries the chains of at most `max_depth` steps that start by taking out an edge at t1.
bool try_chain(Search& q, int t1, int max_depth) {
    for (int dir = 1; dir >= -1; dir -= 2) {
        const int t2 = step(q, t1, dir);
        if (kept_edge(q, t1, t2)) continue;
        Chain c;
        c.t1 = t1;
        c.dir = dir;
        c.base = q.s.position[t1];
        if (extend_chain(q, c, 0, max_depth, t2, dist(q, t1, t2))) return true;
    }
    return false;
}

// Moves the segment s1..sl, which runs in direction dir from prev to next, to
// between c and d (d after c in direction dir, both outside it), reversed or
// not, by two or three 2-opt moves.
void apply_segment_move(Search& q, int prev, int s1, int sl, int next, int c, int d, bool reversed) {
    // prev s1..sl next .. c d  ->  prev c .. next sl..s1 d
    two_opt_move(q, prev, s1, c, d);
    // -> prev next .. c sl..s1 d
    if (c != next) two_opt_move(q, prev, c, next, sl);
    // -> c s1..sl d
    if (!reversed) two_opt_move(q, c, sl, s1, d);
}

// Applies apply_segment_move(), which shortens the route by -delta, and
// queues the nodes at its changed edges; returns true.
bool take_segment_move(Search& q, int prev, int s1, int sl, int next, int c, int d, bool reversed, double delta) {
    apply_segment_move(q, prev, s1, sl, next, c, d, reversed);
    q.cost += delta;
    push(q, prev), push(q, next), push(q, s1), push(q, sl), push(q, c), push(q, d);
    changed(q);
    return true;
}

// Tries moving the segment of `length` nodes from a (s1) to sl, which runs in
// direction dir from prev to next, next to a neighbour of a, in either
// orientation, where taking it out saves `removal`; applies the first move
// that shortens the route.
bool try_segment_move(Search& q, int a, int sl, int length, int prev, int next, int dir, double removal) {
    const int s1 = a;
    if (kept_edge(q, prev, s1) || kept_edge(q, sl, next)) return false;
    const int* near = q.s.neighbours[a];
    const double* near_d = q.s.neighbour_distance[a];
    const int count = q.s.neighbour_count[a];
    const int from = q.s.position[a];
    for (int k = 0; k < count; ++k) {
        const double dac = near_d[k];
        if (dac >= removal) break;
        const int c = near[k];
        if (c == q.len && !q.fixed_end) continue;  // the end: a chain's job
        // Steps from a to c in direction dir: c is in the segment below `length`.
        int offset = (q.s.position[c] - from) * dir;
        if (offset < 0) offset += q.n;
        if (offset < length) continue;
        // c before a: c, s1..sl, v with v after c; v is in the segment only when c is prev.
        if (c != prev) {
            const int v = step(q, c, dir);
            if (!kept_edge(q, c, v)) {
                const double delta = dac + dist(q, sl, v) - dist(q, c, v) - removal;
                if (delta < -q.epsilon) return take_segment_move(q, prev, s1, sl, next, c, v, false, delta);
            }
        }
        // c after a: u, sl..s1, c with u before c; u is in the segment only when c is next.
        if (c != next) {
            const int u = step(q, c, -dir);
            if (!kept_edge(q, u, c)) {
                const double delta = dist(q, u, sl) + dac - dist(q, u, c) - removal;
                if (delta < -q.epsilon) return take_segment_move(q, prev, s1, sl, next, u, c, true, delta);
            }
        }
    }
    return false;
}

// Tries the Or-opt moves of segments of 1 to OR_OPT_MAX nodes that start or
// end at a: by length, forward before backward, a single node once.
bool try_or_opt(Search& q, int a) {
    const int i = q.s.position[a];
    // A move puts the segment next to a listed node nearer to a than taking
    // it out saves. Most segments save less than a's nearest is away, and
    // are passed over with nothing more looked up.
    const int first = q.fixed_end ? 0 : 1;
    double floor = q.epsilon;
    if (q.s.neighbour_count[a] > first && q.s.neighbour_distance[a][first] > floor) {
        floor = q.s.neighbour_distance[a][first];
    }
    // The node before a and the edge to it, either way.
    const int prev_of[2] = {node_at(q, i - 1), node_at(q, i + 1)};
    const double edge_of[2] = {dist(q, prev_of[0], a), dist(q, prev_of[1], a)};
    // A segment needs at least three tour nodes outside it.
    for (int length = 1; length <= OR_OPT_MAX && length + 3 <= q.n; ++length) {
        for (int dir = 1; dir >= (length == 1 ? 1 : -1); dir -= 2) {
            const int prev = prev_of[dir < 0];
            const int sl = node_at(q, i + dir * (length - 1));
            const int next = node_at(q, i + dir * length);
            const double removal = edge_of[dir < 0] + dist(q, sl, next) - dist(q, prev, next);
            if (!(removal > floor)) continue;
            if (try_segment_move(q, a, sl, length, prev, next, dir, removal)) return true;
        }
    }
    return false;
}

// Runs local search with chains of up to `chain_depth` 2-opt moves until no
// queued node has an improving move, or the move bound is reached, or, when
// `until_accepted`, a move leads back to the accepted tour. Three kicks in
// four end there, and the rest of such a search would only repeat the one
// that left that tour, as a rule with no move found.
void run_queue(Search& q, int chain_depth, bool until_accepted) {
    int moves_left = MOVES_PER_NODE * q.len;
    while (q.queue_size > 0 && moves_left > 0) {
        const int a = pop(q);
        // With chains Or-opt goes first, which leads to shorter routes for the
        // same kicks; the single 2-opt moves of a start's first descent go first.
        const bool moved =
            chain_depth > 1 ? try_or_opt(q, a) || try_chain(q, a, chain_depth) : try_chain(q, a, 1) || try_or_opt(q, a);
        if (!moved) continue;
        --moves_left;
        if (until_accepted && q.hash == q.accepted_hash) break;
    }
    while (q.queue_size > 0) pop(q);
}

// Offers node b, at distance d, to list[0..size-1], which keeps at most
// `capacity` nodes nearest first. Nodes are offered in increasing order, so b
// displaces only strictly nearer ones and equals stay in node order.
inline void keep_nearest(int b, double d, int* list, double* list_d, int& size, int capacity) {
    if (size == capacity && !(d < list_d[size - 1])) return;
    int slot = size < capacity ? size++ : size - 1;
    while (slot > 0 && d < list_d[slot - 1]) {
        list[slot] = list[slot - 1];
        list_d[slot] = list_d[slot - 1];
        --slot;
    }
    list[slot] = b;
    list_d[slot] = d;
}

// Nearer of two nodes by (distance from the owner of `row`, node).
inline bool nearer(const double* row, int x, int y) {
    return row[x] < row[y] || (row[x] == row[y] && x < y);
}

// Writes into spread[0..count-1] the chosen[0..taken-1], then the nearest of
// near[0..count-1] not among them, sorted by (distance from the owner of
// `row`, node).
void fill_spread(const double* row, const int* near, int count, int* chosen, int taken, int* spread, double* spread_d) {
    for (int j = 0; j < count && taken < count; ++j) {
        if (std::find(chosen, chosen + taken, near[j]) == chosen + taken) chosen[taken++] = near[j];
    }
    // By insertion: the lists are short.
    for (int j = 0; j < taken; ++j) {
        const int v = chosen[j];
        int slot = j;
        while (slot > 0 && nearer(row, v, spread[slot - 1])) {
            spread[slot] = spread[slot - 1];
            spread_d[slot] = spread_d[slot - 1];
            --slot;
        }
        spread[slot] = v;
        spread_d[slot] = row[v];
    }
}

// Quadrant of the place (x, y) seen from (from_x, from_y), by angle: [0, 90)
// degrees is 0, [90, 180) is 1, [180, 270) is 2 and [270, 360) is 3; the
// same place is in 1.
inline int quadrant(double from_x, double from_y, double x, double y) {
    const int lower = (y < from_y) | ((y == from_y) & (x < from_x));
    const int left_or_on = x <= from_x;
    const int right_or_on = x >= from_x;
    return left_or_on + lower * (2 + right_or_on - left_or_on);
}

// Writes into spread[0..count-1] the chain list of local node a, whose
// nearest-first list by (distance, node) is near[0..count-1]: the
// QUADRANT_NEIGHBOURS nearest of each quadrant around a, then the nearest of
// the rest, in the same order. x and y are the local nodes' places. Chains
// that may only join near nodes stay inside the nearest cluster of a
// clustered or mixed-density instance; a list that looks every way holds the
// edges between clusters, and the same kicks find shorter routes. `buckets`
// has room for 4 * TABLE_SLOTS nodes.
void spread_by_quadrant(const Search& q, const double* x, const double* y, int a, int candidates, const int* near,
                        int count, int* spread, double* spread_d, int* buckets) {
    const double* row = q.s.distance[a];
    int best[4][QUADRANT_NEIGHBOURS];
    double best_d[4][QUADRANT_NEIGHBOURS];
    int found[4] = {0, 0, 0, 0};
    // A quadrant's first members in the nearest list are its nearest.
    for (int j = 0; j < count; ++j) {
        const int k = quadrant(x[a], y[a], x[near[j]], y[near[j]]);
        if (found[k] < QUADRANT_NEIGHBOURS) best[k][found[k]] = near[j], best_d[k][found[k]++] = row[near[j]];
    }
    // A quadrant the list leaves short takes its nearest from beyond the
    // list: a whole pass, needed only where the places are sparse on a side.
    int short_of = 0;
    for (int k = 0; k < 4; ++k) short_of |= found[k] < QUADRANT_NEIGHBOURS ? 1 << k : 0;
    if (short_of != 0 && count > 0) {
        // Sorted into their quadrants without branches first, as a node's
        // quadrant is hard to predict, then offered in node order. The four
        // fill counts share one register, 16 bits each, where an array would
        // make each node wait on the store of the one before.
        const int last = near[count - 1];
        std::uint64_t filled = 0;
        for (int b = 0; b < candidates; ++b) {
            const int k = quadrant(x[a], y[a], x[b], y[b]);
            const int shift = 16 * k;
            buckets[k * TABLE_SLOTS + static_cast<int>(filled >> shift & 0xFFFF)] = b;
            // Nodes by (distance, node) up to the list's last are in it.
            filled += static_cast<std::uint64_t>(nearer(row, last, b)) << shift;
        }
        for (int k = 0; k < 4; ++k) {
            if (!(short_of >> k & 1)) continue;
            const int* bucket = buckets + k * TABLE_SLOTS;
            const int size = static_cast<int>(filled >> (16 * k) & 0xFFFF);
            for (int j = 0; j < size; ++j) {
                const int b = bucket[j];
                keep_nearest(b, row[b], best[k], best_d[k], found[k], QUADRANT_NEIGHBOURS);
            }
        }
    }
    int chosen[NEIGHBOUR_COUNT + 1];
    int taken = 0;
    for (int k = 0; k < 4; ++k) {
        for (int j = 0; j < found[k] && taken < count; ++j) chosen[taken++] = best[k][j];
    }
    fill_spread(row, near, count, chosen, taken, spread, spread_d);
}

// True when node b is shadowed from the owner of `row` by one of
// picks[0..count-1]: nearer to that pick than to the owner.
inline bool shadowed(const Search& q, const double* row, const int* picks, int count, int b) {
    for (int j = 0; j < count; ++j) {
        if (q.s.distance[picks[j]][b] < row[b]) return true;
    }
    return false;
}

// Writes into spread[0..count-1] the chain list of local node a from its
// nearest-first list near[0..count-1] when only distances are known: up to
// UNSHADOWED_NEIGHBOURS nodes taken nearest first, each unless one taken
// before shadows it, then the nearest of the rest. Nodes behind a nearer one
// give way to nodes in other directions, as quadrants do with places.
void spread_by_shadow(const Search& q, int a, int candidates, const int* near, int count, int* spread,
                      double* spread_d) {
    const double* row = q.s.distance[a];
    int chosen[NEIGHBOUR_COUNT + 1];
    int taken = 0;
    for (int j = 0; j < count && taken < UNSHADOWED_NEIGHBOURS; ++j) {
        if (!shadowed(q, row, chosen, taken, near[j])) chosen[taken++] = near[j];
    }
    if (taken < UNSHADOWED_NEIGHBOURS && count > 0) {
        // The picks go on beyond the list in the same order. Kept free of
        // nodes the picks shadow, the nearest of the rest is the next pick.
        int rest[TABLE_SLOTS];
        int left = 0;
        int next = -1;
        const int last = near[count - 1];
        for (int b = 0; b < candidates; ++b) {
            // Nodes by (distance, node) up to the list's last are in it.
            if (!nearer(row, last, b) || shadowed(q, row, chosen, taken, b)) continue;
            if (next < 0 || nearer(row, b, rest[next])) next = left;
            rest[left++] = b;
        }
        while (next >= 0 && taken < UNSHADOWED_NEIGHBOURS) {
            const int pick = rest[next];
            chosen[taken++] = pick;
            int kept = 0;
            next = -1;
            for (int j = 0; j < left; ++j) {
                const int b = rest[j];
                if (b == pick || shadowed(q, row, &pick, 1, b)) continue;
                if (next < 0 || nearer(row, b, rest[next])) next = kept;
                rest[kept++] = b;
            }
            left = kept;
        }
    }
    fill_spread(row, near, count, chosen, taken, spread, spread_d);
}

// Writes into offered[] the local nodes, in increasing order, that may be
// among the `kept` nearest of local node a (a itself among them), and returns
// how many. Local nodes follow the caller's route, so a's predecessor is
// usually near it: the `kept` nodes of its full list and itself, less a, are
// at least `kept` nodes other than a, so the kept-th nearest of a is no
// farther than the farthest of them from a. Only nodes that near are offered,
// in one pass without branches, where offering every node costs an insertion
// test each.
int nearest_candidates(const ImprovementScratch& s, int a, int first, int kept, int candidates, int* offered) {
    const double* row = s.distance[a];
    const int prev = a - 1;
    if (prev < 0 || s.neighbour_count[prev] - first < kept) {
        for (int b = 0; b < candidates; ++b) offered[b] = b;
        return candidates;
    }
    double bound = row[prev];
    for (int k = first; k < first + kept; ++k) {
        const int b = s.neighbours[prev][k];
        if (b != a && row[b] > bound) bound = row[b];
    }
    int offers = 0;
    for (int b = 0; b < candidates; ++b) {
        offered[offers] = b;
        offers += row[b] <= bound;
    }
    return offers;
}

// Fills the local distance table (the end included), each node's nearest
// neighbour list and its chain list, spread by quadrant when the caller's
// places are known and by shadow otherwise. A virtual end heads every list; a
// fixed one is listed by its distance like any other node.
void prepare_tables(Search& q, const double (*distance)[TABLE_SLOTS], const int* route, bool fixed_end,
                    const Point* places) {
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
    double x[TABLE_SLOTS];
    double y[TABLE_SLOTS];
    if (places) {
        for (int b = 0; b < candidates; ++b) x[b] = places[route[b]].x, y[b] = places[route[b]].y;
    }
    int offered[TABLE_SLOTS];
    int quadrants[4 * TABLE_SLOTS];
    for (int a = 0; a < candidates; ++a) {
        int* near = s.neighbours[a] + first;
        double* near_d = s.neighbour_distance[a] + first;
        int count = 0;
        const double* row = s.distance[a];
        // Nearest first by (distance, local node), kept sorted by insertion.
        const int offers = nearest_candidates(s, a, first, kept, candidates, offered);
        for (int j = 0; j < offers; ++j) {
            const int b = offered[j];
            if (b != a) keep_nearest(b, row[b], near, near_d, count, kept);
        }
        if (!fixed_end) {
            s.neighbours[a][0] = len;
            s.neighbour_distance[a][0] = 0.0;
        }
        s.neighbour_count[a] = count + first;
        int* spread = s.chain_neighbours[a];
        double* spread_d = s.chain_distance[a];
        if (places) {
            spread_by_quadrant(q, x, y, a, candidates, near, count, spread + first, spread_d + first, quadrants);
        } else {
            spread_by_shadow(q, a, candidates, near, count, spread + first, spread_d + first);
        }
        if (!fixed_end) spread[0] = len, spread_d[0] = 0.0;
    }
    if (!fixed_end) s.neighbour_count[len] = 0;
}

// Reorders the three consecutive segments of lengths l1, l2 and l3 from tour
// position `start` as 3 2 1, orientations kept (a double bridge), and queues
// the nodes at the four changed edges, none of which may be the kept one.
void reorder_segments(Search& q, int start, int l1, int l2, int l3) {
    const int n = q.n;
    int* order = q.s.order;
    int* position = q.s.position;
    const int s2 = start + l1;
    const int s3 = s2 + l2;
    const int end = s3 + l3;  // first position after the three segments
    const int before = node_at(q, start - 1);
    const int h1 = node_at(q, start), t1 = node_at(q, s2 - 1);
    const int h2 = node_at(q, s2), t2 = node_at(q, s3 - 1);
    const int h3 = node_at(q, s3), t3 = node_at(q, end - 1);
    const int after = node_at(q, end);
    const double removed = dist(q, before, h1) + dist(q, t1, h2) + dist(q, t2, h3) + dist(q, t3, after);
    const double added = dist(q, before, h3) + dist(q, t3, h2) + dist(q, t2, h1) + dist(q, t1, after);
    int* buffer = q.s.segment_buffer;
    int w = 0;
    for (int p = s3; p < end; ++p) buffer[w++] = order[p];
    for (int p = s2; p < s3; ++p) buffer[w++] = order[p];
    for (int p = start; p < s2; ++p) buffer[w++] = order[p];
    for (int k = 0; k < w; ++k) {
        int p = start + k;
        if (p >= n) p -= n;
        order[p] = order[p + n] = buffer[k];
        position[buffer[k]] = p;
    }
    q.cost += added - removed;
    q.hash ^= edge_key(q, before, h1) ^ edge_key(q, t1, h2) ^ edge_key(q, t2, h3) ^ edge_key(q, t3, after) ^
              edge_key(q, before, h3) ^ edge_key(q, t3, h2) ^ edge_key(q, t2, h1) ^ edge_key(q, t1, after);
    push(q, before), push(q, after);
    push(q, h1), push(q, t1), push(q, h2), push(q, t2), push(q, h3), push(q, t3);
    changed(q);
}

// True when the tour edge from position p to the next one may be cut.
inline bool cuttable(const Search& q, int p) {
    return !kept_edge(q, q.s.order[p], q.s.order[p + 1]);
}

// A double bridge of three consecutive segments of 1 to KICK_SEGMENT_MAX
// nodes each at a random place of the tour, or, while polishing, mostly at a
// place that covers a disputed node. The segments may hold the start and
// the end, which then move with them.
void kick(Search& q, Generator& g) {
    const int n = q.n;
    const int movable = n - 1;
    const int cap = movable < KICK_SEGMENT_MAX ? movable : KICK_SEGMENT_MAX;
    const int l1 = 1 + kick_length(g, movable - 2 < cap ? movable - 2 : cap);
    const int room2 = movable - l1 - 1 < cap ? movable - l1 - 1 : cap;
    const int l2 = 1 + kick_length(g, room2 < 1 ? 1 : room2);
    const int room3 = movable - l1 - l2 < cap ? movable - l1 - l2 : cap;
    const int l3 = 1 + kick_length(g, room3 < 1 ? 1 : room3);
    // The four edges cut must leave the kept edge alone: draw the place until they do.
    const SearchState& st = q.s.state;
    const bool aimed = st.polishing && st.disputed_count > 0 && next_below(g, 100) < POLISH_AIMED_PERCENT;
    int start;
    do {
        if (aimed) {
            const int node = q.s.disputed[next_below(g, st.disputed_count)];
            start = q.s.position[node] - next_below(g, l1 + l2 + l3);
            if (start < 0) start += n;
        } else {
            start = next_below(g, n);
        }
    } while (!cuttable(q, start + n - 1) || !cuttable(q, start + l1 - 1) || !cuttable(q, start + l1 + l2 - 1) ||
             !cuttable(q, start + l1 + l2 + l3 - 1));
    reorder_segments(q, start, l1, l2, l3);
}

// Makes the current tour the one later kicks start from.
void accept_current(Search& q) {
    q.accepted_hash = q.hash;
    std::memcpy(q.s.accepted, q.s.order, sizeof(int) * static_cast<size_t>(q.n));
}

// Puts the accepted tour back in place of the current one.
void restore_accepted(Search& q) {
    for (int p = 0; p < q.n; ++p) {
        const int node = q.s.accepted[p];
        q.s.order[p] = q.s.order[p + q.n] = node;
        q.s.position[node] = p;
    }
    q.hash = q.accepted_hash;
}

// Writes the current route, from the start to the end, into out[0..len].
void walk_route(const Search& q, int* out) {
    const int dir = step(q, 0, 1) == q.len ? -1 : 1;
    int p = q.s.position[0];
    for (int k = 0; k <= q.len; ++k) {
        out[k] = q.s.order[p];
        p += dir;
        if (p == q.n) p = 0;
        if (p < 0) p = q.n - 1;
    }
}

// Length of a route of local nodes route[0..len], summed from the start; the
// leg into a virtual end adds nothing.
double local_travel(const Search& q, const int* route) {
    double travel = 0.0;
    for (int p = 1; p <= q.len; ++p) travel += dist(q, route[p - 1], route[p]);
    return travel;
}

// Root of node v's set in the merge's union-find, halving paths on the way.
inline int merge_root(int* parent, int v) {
    while (parent[v] != v) {
        parent[v] = parent[parent[v]];
        v = parent[v];
    }
    return v;
}

// True when the tour given by each node's two mates is one cycle through all n nodes.
bool single_cycle(const int (*mate)[2], int n) {
    int prev = 0;
    int at = mate[0][0];
    int steps = 1;
    while (at != 0 && steps <= n) {
        const int next = mate[at][0] == prev ? mate[at][1] : mate[at][0];
        prev = at;
        at = next;
        ++steps;
    }
    return at == 0 && steps == n;
}

// Records each node's two neighbours in the tour of route[0..n-1].
void set_mates(const int* route, int n, int (*mate)[2]) {
    for (int k = 0; k < n; ++k) {
        const int v = route[k];
        mate[v][0] = route[k == 0 ? n - 1 : k - 1];
        mate[v][1] = route[k == n - 1 ? 0 : k + 1];
    }
}

// Records each node's two neighbours in the best route's tour.
void set_best_mates(ImprovementScratch& s, int n) {
    set_mates(s.best, n, s.best_mate);
}

// True when the edge (v, w) is in the best route's tour.
inline bool in_best(const ImprovementScratch& s, int v, int w) {
    return s.best_mate[v][0] == w || s.best_mate[v][1] == w;
}

// Joins the union-find sets of a and b.
inline void merge_join(int* parent, int a, int b) {
    a = merge_root(parent, a);
    b = merge_root(parent, b);
    if (a != b) parent[a < b ? b : a] = a < b ? a : b;
}

// Partition crossover of the current tour into the best route: the edges in
// which the two differ fall into connected pieces, and each piece where the
// current tour is shorter replaces the best route's edges there when the
// result stays one tour. Writes a shorter result into the best route and the
// current tour and returns true; otherwise changes nothing.
bool merge_into_best(Search& q, SearchState& st) {
    ImprovementScratch& s = q.s;
    const int n = q.n;
    const int* order = s.order;
    int* parent = s.merge_parent;
    double* delta = s.merge_delta;
    int* nodes = s.merge_nodes;  // nodes at an edge the tours differ in
    int count = 0;
    // Every current edge once, from its first position; mark nodes by parent[] = themselves.
    for (int p = 0; p < n; ++p) {
        const int v = order[p];
        const int w = order[p + 1];
        if (in_best(s, v, w)) continue;
        if (!s.merge_mark[v]) s.merge_mark[v] = 1, parent[v] = v, delta[v] = 0.0, nodes[count++] = v;
        if (!s.merge_mark[w]) s.merge_mark[w] = 1, parent[w] = w, delta[w] = 0.0, nodes[count++] = w;
        merge_join(parent, v, w);
    }
    if (count == 0) return false;
    // Best-route edges not in the current tour join their ends too; both ends
    // are at a differing edge already, as every node has two of each.
    for (int k = 0; k < count; ++k) {
        const int v = nodes[k];
        for (int side = 0; side < 2; ++side) {
            const int w = s.best_mate[v][side];
            if (w != step(q, v, 1) && w != step(q, v, -1)) merge_join(parent, v, w);
        }
    }
    // Each piece's length in the current tour less its length in the best route.
    for (int k = 0; k < count; ++k) {
        const int v = nodes[k];
        const int r = merge_root(parent, v);
        for (int side = 1; side >= -1; side -= 2) {
            const int w = step(q, v, side);
            if (w > v && !in_best(s, v, w)) delta[r] += dist(q, v, w);
        }
        for (int side = 0; side < 2; ++side) {
            const int w = s.best_mate[v][side];
            if (w > v && w != step(q, v, 1) && w != step(q, v, -1)) delta[r] -= dist(q, v, w);
        }
    }
    int(*child)[2] = s.child_mate;
    std::memcpy(child, s.best_mate, sizeof(int) * 2 * static_cast<size_t>(n));
    bool changed_any = false;
    for (int k = 0; k < count; ++k) {
        const int r = nodes[k];
        if (merge_root(parent, r) != r || !(delta[r] < -q.epsilon)) continue;
        for (int j = 0; j < count; ++j) {
            const int v = nodes[j];
            if (merge_root(parent, v) != r) continue;
            child[v][0] = step(q, v, 1);
            child[v][1] = step(q, v, -1);
        }
        if (single_cycle(child, n)) {
            changed_any = true;
            continue;
        }
        for (int j = 0; j < count; ++j) {
            const int v = nodes[j];
            if (merge_root(parent, v) != r) continue;
            child[v][0] = s.best_mate[v][0];
            child[v][1] = s.best_mate[v][1];
        }
    }
    for (int k = 0; k < count; ++k) s.merge_mark[nodes[k]] = 0;
    if (!changed_any) return false;
    // The result as a route from the start: the end is one of the start's mates.
    int* route = s.segment_buffer;
    route[0] = 0;
    int prev = q.len;
    for (int k = 1; k < n; ++k) {
        const int at = route[k - 1];
        const int next = child[at][0] == prev ? child[at][1] : child[at][0];
        prev = at;
        route[k] = next;
    }
    const double travel = local_travel(q, route);
    if (!(travel < st.best_cost)) return false;
    st.best_cost = travel;
    std::memcpy(s.best, route, sizeof(int) * static_cast<size_t>(n));
    set_best_mates(s, n);
    for (int p = 0; p < n; ++p) {
        s.order[p] = s.order[p + n] = route[p];
        s.position[route[p]] = p;
    }
    q.cost = travel;
    rehash_tour(q);
    changed(q);
    return true;
}

// Runs local search over every node with chains of up to `chain_depth` 2-opt
// moves, writes the route reached into out[0..len] and keeps its length,
// summed afresh, as the current cost.
void descend(Search& q, int* out, int chain_depth) {
    for (int v = 0; v < q.n; ++v) push(q, v);
    run_queue(q, chain_depth, false);
    walk_route(q, out);
    q.cost = local_travel(q, out);
}

// Loads a route from the start into the current tour and makes it the accepted one.
void load_route(Search& q, const int* route) {
    for (int p = 0; p < q.n; ++p) {
        q.s.order[p] = q.s.order[p + q.n] = route[p];
        q.s.position[route[p]] = p;
    }
    rehash_tour(q);
    accept_current(q);
}

// Adds to the disputed nodes those whose two neighbours in the finished
// run's best route (island) are not their two in the elite, which is also
// the best route (best) when this runs.
void mark_disputed(ImprovementScratch& s, SearchState& st, int n) {
    set_best_mates(s, n);
    set_mates(s.island, n, s.child_mate);
    for (int v = 0; v < n; ++v) {
        const bool same = in_best(s, v, s.child_mate[v][0]) && in_best(s, v, s.child_mate[v][1]);
        if (!same && !s.disputed_mark[v]) {
            s.disputed_mark[v] = 1;
            s.disputed[st.disputed_count++] = v;
        }
    }
}

// Ends one independent run: merges its best route into the elite (the
// shorter of the merge and the run's own best) and notes where the two
// disagree. Unless it was the last, it then starts the next run from a fresh
// start, or for the budget's last polish_kicks the polish from the elite.
void end_island(Search& q, SearchState& st, Generator& g, bool last) {
    ImprovementScratch& s = q.s;
    const size_t bytes = sizeof(int) * static_cast<size_t>(q.n);
    const double island_cost = st.best_cost;
    std::memcpy(s.island, s.best, bytes);
    load_route(q, s.island);
    q.cost = island_cost;
    std::memcpy(s.best, s.elite, bytes);
    st.best_cost = st.elite_cost;
    set_best_mates(s, q.n);
    merge_into_best(q, st);
    if (island_cost < st.best_cost) {
        std::memcpy(s.best, s.island, bytes);
        st.best_cost = island_cost;
    }
    std::memcpy(s.elite, s.best, bytes);
    st.elite_cost = st.best_cost;
    accept_current(q);
    st.accepted_cost = q.cost;
    if (last) return;
    mark_disputed(s, st, q.n);
    if (st.kicks - st.kicks_done == st.polish_kicks) {
        // Kicks aimed where the runs disagree find what no single run did
        // more often than another fresh run would.
        load_route(q, s.elite);
        q.cost = st.elite_cost;
        st.accepted_cost = q.cost;
        st.polishing = true;
        return;
    }
    // A fresh start: the first local optimum kicked many times at once, then
    // local search over every node. With two starts every other run begins
    // from the one not taken: runs that all begin in one basin often end
    // in it together.
    const bool other = st.other_start_cost > 0.0 && st.kicks_done / st.island_kicks % 2 == 1;
    load_route(q, other ? s.other_start : s.start_route);
    q.cost = other ? st.other_start_cost : st.start_cost;
    for (int k = 0; k < RESTART_KICKS; ++k) kick(q, g);
    descend(q, s.best, CHAIN_DEPTH);
    st.best_cost = q.cost;
    set_best_mates(s, q.n);
    accept_current(q);
    st.accepted_cost = q.cost;
}

// The search as the scratch's state left it.
Search load_search(ImprovementScratch& scratch) {
    const SearchState& st = scratch.state;
    return Search{scratch, st.len,        st.len + 1,    st.fixed_end, st.epsilon,
                  st.cost, st.queue_head, st.queue_size, st.tour_hash, st.accepted_hash};
}

// Stores what a slice changed of the search back into the scratch's state.
void store_search(const Search& q, SearchState& st) {
    st.cost = q.cost;
    st.queue_head = q.queue_head;
    st.queue_size = q.queue_size;
    st.tour_hash = q.hash;
    st.accepted_hash = q.accepted_hash;
}

// True once a limit says the slice is over.
bool slice_over(const SearchLimits& limits) {
    if (limits.stop && limits.stop->load(std::memory_order_relaxed)) return true;
    return limits.until != std::chrono::steady_clock::time_point::max() &&
           std::chrono::steady_clock::now() >= limits.until;
}

// The mate of `at` on its greedy path other than `prev`, or -1 at the path's end.
inline int path_step(const int (*mate)[2], const int* degree, int at, int prev) {
    int next = -1;
    for (int k = 0; k < degree[at]; ++k) {
        if (mate[at][k] != prev) next = mate[at][k];
    }
    return next;
}

// Writes into route[0..len] a greedy-edge route from the start to the end:
// the kept edge between the two, then the neighbour lists' edges, shortest
// first, each taken while both its nodes have fewer than two and it closes no
// cycle. The start's path is walked away from the end and every other path
// strung on from its end nearer to the last node; a fixed end's own path comes
// last, into the end, and a virtual end takes no edge but the kept one. The
// sort has a total order (length, then nodes), so the route is the same on
// every machine.
void greedy_route(Search& q, int* route) {
    ImprovementScratch& s = q.s;
    const int len = q.len;
    GreedyEdge* edges = s.greedy_edges;
    int count = 0;
    // A virtual end heads each city's list and has none of its own.
    const int first = q.fixed_end ? 0 : 1;
    const int listed = q.fixed_end ? len + 1 : len;
    for (int a = 0; a < listed; ++a) {
        for (int k = first; k < s.neighbour_count[a]; ++k) {
            const int b = s.neighbours[a][k];
            if (kept_edge(q, a, b)) continue;
            // Each edge once: from its smaller node, or from the only one that lists it.
            if (b < a) {
                bool mutual = false;
                for (int j = first; j < s.neighbour_count[b]; ++j) mutual = mutual || s.neighbours[b][j] == a;
                if (mutual) continue;
            }
            // + 0.0 makes a length of -0.0 the +0.0 it equals.
            const double length = s.neighbour_distance[a][k] + 0.0;
            std::uint64_t bits;
            std::memcpy(&bits, &length, sizeof bits);
            const int low = a < b ? a : b;
            const int high = a < b ? b : a;
            edges[count++] = {bits, static_cast<std::uint32_t>(low) << 16 | static_cast<std::uint32_t>(high)};
        }
    }
    // By length, then smaller node, then larger: no two edges are equal.
    std::sort(edges, edges + count, [](const GreedyEdge& e, const GreedyEdge& f) {
        return e.length_bits != f.length_bits ? e.length_bits < f.length_bits : e.ends < f.ends;
    });
    // Paths kept as each node's two mates, with union-find against cycles.
    int* degree = s.degree;
    int(*mate)[2] = s.child_mate;
    int* parent = s.merge_parent;
    for (int v = 0; v <= len; ++v) degree[v] = 0, parent[v] = v;
    mate[0][0] = len;
    mate[len][0] = 0;
    degree[0] = degree[len] = 1;
    merge_join(parent, 0, len);
    for (int k = 0; k < count; ++k) {
        const int a = static_cast<int>(edges[k].ends >> 16);
        const int b = static_cast<int>(edges[k].ends & 0xFFFF);
        if (degree[a] == 2 || degree[b] == 2) continue;
        const int ra = merge_root(parent, a);
        const int rb = merge_root(parent, b);
        if (ra == rb) continue;
        parent[ra] = rb;
        mate[a][degree[a]++] = b;
        mate[b][degree[b]++] = a;
    }
    // The end's own path goes at the back, read from the end, and out of the
    // walk; it cannot reach the start, which the kept edge already joins.
    unsigned char* used = s.merge_mark;
    used[len] = 1;
    route[len] = len;
    int walked = len;  // route[walked..len] is placed
    for (int prev = len, at = path_step(mate, degree, len, 0); at >= 0;) {
        route[--walked] = at;
        used[at] = 1;
        const int next = path_step(mate, degree, at, prev);
        prev = at;
        at = next;
    }
    // Walk from the start away from the end; at each path's end jump to the
    // nearest end of an unvisited path.
    int prev = len;
    int at = 0;
    for (int w = 0; w < walked; ++w) {
        route[w] = at;
        used[at] = 1;
        int next = path_step(mate, degree, at, prev);
        if (next < 0) {
            double nearest = 0.0;
            for (int v = 1; v < len; ++v) {
                if (used[v] || degree[v] == 2) continue;
                if (next < 0 || dist(q, at, v) < nearest) next = v, nearest = dist(q, at, v);
            }
        }
        prev = at;
        at = next;
    }
    for (int v = 0; v <= len; ++v) used[v] = 0;
}

}  // namespace

void begin_improvement(const double (*distance)[TABLE_SLOTS], const int* route, int len, bool fixed_end,
                       ImprovementBudget budget, ImprovementScratch& scratch, const Point* places) {
    SearchState& st = scratch.state;
    st.route_len = len;
    st.fixed_end = fixed_end;
    st.change_hook = budget.change_hook;
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

    // The search starts from a local optimum reached with the deepest chains.
    Search q{scratch, nodes, nodes + 1, fixed_end, 0.0, 0.0, 0, 0, 0, 0};
    prepare_tables(q, distance, route, fixed_end, places);
    // Deltas are sums of a few edges; a tiny fraction of the mean edge separates
    // real gains from rounding noise and from ties between equal lengths.
    q.epsilon = 1e-9 * (st.input_travel / (len - 1));
    for (int p = 0; p <= nodes; ++p) {
        scratch.order[p] = scratch.order[p + nodes + 1] = p;
        scratch.position[p] = p;
        scratch.queued[p] = 0;
    }
    std::memset(scratch.merge_mark, 0, sizeof scratch.merge_mark);
    Generator keys{EDGE_KEY_SEED};
    for (int p = 0; p <= nodes; ++p) scratch.node_key[p] = next_bits(keys) | 1;
    rehash_tour(q);
    q.cost = local_travel(q, scratch.order);
    st.other_start_cost = 0.0;
    if (fixed_end && !(dist(q, 0, nodes) > 0.0)) {
        // A route back to where it began keeps to the pipeline's start: a
        // greedy-edge start there leads to longer routes as often as shorter.
        descend(q, scratch.best, CHAIN_DEPTH);
    } else {
        // An open route, or one to a finish elsewhere, also starts from a
        // greedy-edge route, and the search goes on from the shorter of the
        // two local optima: either start leads to the better routes on some
        // instances. Both descend with single moves first and only the
        // shorter with chains, which keeps the second start's cost to a
        // fraction.
        descend(q, scratch.best, 1);
        const double insertion_cost = q.cost;
        int* greedy = scratch.segment_buffer;
        greedy_route(q, greedy);
        load_route(q, greedy);
        q.cost = local_travel(q, greedy);
        descend(q, greedy, 1);
        const size_t bytes = sizeof(int) * static_cast<size_t>(q.n);
        if (q.cost < insertion_cost) {
            std::memcpy(scratch.other_start, scratch.best, bytes);
            st.other_start_cost = insertion_cost;
            std::memcpy(scratch.best, greedy, bytes);
        } else {
            std::memcpy(scratch.other_start, greedy, bytes);
            st.other_start_cost = q.cost;
            q.cost = insertion_cost;
        }
        load_route(q, scratch.best);
        descend(q, scratch.best, CHAIN_DEPTH);
    }
    set_best_mates(scratch, q.n);

    accept_current(q);
    st.epsilon = q.epsilon;
    st.best_cost = q.cost;
    st.accepted_cost = q.cost;
    st.start_cost = q.cost;
    st.elite_cost = q.cost;
    std::memcpy(scratch.start_route, scratch.best, sizeof(int) * static_cast<size_t>(q.n));
    std::memcpy(scratch.elite, scratch.best, sizeof(int) * static_cast<size_t>(q.n));
    // Any budget above nothing buys at least one kick.
    st.kicks = budget.kicks / KICK_COST + (budget.kicks > 0 && budget.kicks % KICK_COST != 0 ? 1 : 0);
    st.island_kicks = st.kicks > ONE_RUN_KICKS ? ISLAND_KICKS : 0;
    st.polish_kicks = std::min(POLISH_KICKS, st.kicks / POLISH_SHARE);
    st.disputed_count = 0;
    st.polishing = false;
    std::memset(scratch.disputed_mark, 0, sizeof scratch.disputed_mark);
    store_search(q, st);
    // Kicks need three segments and a fourth cut away from the kept edge.
    if (nodes < 4) st.kicks = 0;
}

bool run_improvement(ImprovementScratch& scratch, const SearchLimits& limits) {
    SearchState& st = scratch.state;
    if (st.len < 0 || st.kicks_done >= st.kicks) return true;
    Search q = load_search(scratch);
    Generator g{st.generator};
    const double accept_factor = st.island_kicks > 0 ? ACCEPT_FACTOR_RUNS : ACCEPT_FACTOR_ONE_RUN;
    bool done = false;
    while (!slice_over(limits)) {
        if (st.kicks_done >= st.kicks) {
            done = true;
            break;
        }
        ++st.kicks_done;
        kick(q, g);
        run_queue(q, CHAIN_DEPTH, true);
        bool keep = false;
        if (q.hash == q.accepted_hash) {
            // Back at the accepted tour: the best route is that tour, or already
            // took from it all a merge can.
            q.cost = st.accepted_cost;
        } else if (merge_into_best(q, st)) {
            keep = true;
        } else if (q.cost < st.best_cost - q.epsilon) {
            // Re-sum so drift from adding deltas never reaches the best length.
            int* route = scratch.segment_buffer;
            walk_route(q, route);
            q.cost = local_travel(q, route);
            if (q.cost < st.best_cost) {
                st.best_cost = q.cost;
                std::memcpy(scratch.best, route, sizeof(int) * static_cast<size_t>(q.len + 1));
                set_best_mates(scratch, q.n);
                keep = true;
            }
        }
        if (keep || q.cost < st.best_cost * (st.polishing ? ACCEPT_FACTOR_POLISH : accept_factor)) {
            st.accepted_cost = q.cost;
            accept_current(q);
        } else {
            q.cost = st.accepted_cost;
            restore_accepted(q);
        }
        // Runs end every island_kicks kicks; a remainder shorter than a run
        // joins the last one, and the last polish_kicks polish.
        if (st.island_kicks > 0 || st.polish_kicks > 0) {
            const int left = st.kicks - st.kicks_done;
            if (left == 0) {
                end_island(q, st, g, true);
            } else if (left == st.polish_kicks ||
                       (st.island_kicks > 0 && st.kicks_done % st.island_kicks == 0 && left >= st.island_kicks)) {
                end_island(q, st, g, false);
            }
        }
    }
    st.generator = g.state;
    store_search(q, st);
    return done;
}

double best_improved_route(const double (*distance)[TABLE_SLOTS], const ImprovementScratch& scratch, int* out) {
    const SearchState& st = scratch.state;
    if (st.len < 0) {
        std::memcpy(out, scratch.input_route, sizeof(int) * static_cast<size_t>(st.route_len));
    } else {
        // The elite starts as the start, which the best never trails.
        const int* best = st.elite_cost < st.best_cost ? scratch.elite : scratch.best;
        for (int p = 0; p < st.len; ++p) out[p] = scratch.input_route[best[p]];
        if (st.fixed_end) out[st.len] = scratch.input_route[st.len];
    }
    return route_travel(distance, out, st.route_len);
}

double end_improvement(const double (*distance)[TABLE_SLOTS], int* route, ImprovementScratch& scratch) {
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

double improve_route(const double (*distance)[TABLE_SLOTS], int* route, int len, ImprovementBudget budget,
                     ImprovementScratch& scratch, const Point* places) {
    if (len <= 2 || len > MAX_CITIES + 1) return route_travel(distance, route, len);
    begin_improvement(distance, route, len, false, budget, scratch, places);
    run_improvement(scratch, SearchLimits{});
    return end_improvement(distance, route, scratch);
}

}  // namespace corvelanth
