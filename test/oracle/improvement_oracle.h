// The straightforward reading of the route improvement's tour: what route a
// scratch holds and how long it is, recomputed from nothing, for tests that
// hold the search's kept lengths and move deltas to it.
#ifndef CORVELANTH_IMPROVEMENT_ORACLE_H
#define CORVELANTH_IMPROVEMENT_ORACLE_H

#include <cmath>
#include <cstdint>
#include <vector>

#include "route_improvement.h"

namespace oracle {

// The route in the scratch's current tour, local nodes from the start (node 0)
// to the end (node len), or an empty vector when order[] and position[] are
// not a tour of nodes 0..len with the end next to the start.
inline std::vector<int> current_local_route(const corvelanth::ImprovementScratch& s) {
    const int len = s.state.len;
    const int n = len + 1;
    std::vector<int> seen(static_cast<size_t>(n), 0);
    for (int p = 0; p < n; ++p) {
        const int node = s.order[p];
        if (node < 0 || node >= n || seen[node] || s.position[node] != p) return {};
        seen[node] = 1;
    }
    const int at = s.position[0];
    const int after = s.order[(at + 1) % n];
    const int before = s.order[(at + n - 1) % n];
    if (after != len && before != len) return {};
    const int dir = after == len ? n - 1 : 1;
    std::vector<int> route;
    for (int k = 0, p = at; k < n; ++k, p = (p + dir) % n) route.push_back(s.order[p]);
    return route;
}

// Length of a route of local nodes under the scratch's local distances,
// summed from the start; NaN for an empty route.
inline double local_route_travel(const corvelanth::ImprovementScratch& s, const std::vector<int>& route) {
    if (route.empty()) return std::nan("");
    double travel = 0.0;
    for (size_t p = 1; p < route.size(); ++p) travel += s.distance[route[p - 1]][route[p]];
    return travel;
}

// Hash of a route's tour (its edges and the one from the end back to the
// start): the xor over the edges of the product of their nodes' keys.
inline std::uint64_t local_tour_hash(const corvelanth::ImprovementScratch& s, const std::vector<int>& route) {
    std::uint64_t hash = s.node_key[route.back()] * s.node_key[route.front()];
    for (size_t p = 1; p < route.size(); ++p) hash ^= s.node_key[route[p - 1]] * s.node_key[route[p]];
    return hash;
}

}  // namespace oracle

#endif
