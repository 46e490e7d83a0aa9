// The route and pending list operations and the nearest-city seed.
#include <cstring>

#include "route_steps.h"

namespace corvelanth {

void route_insert_after(RouteLists& lists, int pos, int slot) {
    const int len = lists.route_len;
    if (len > pos + 1) {
        std::memmove(&lists.route[pos + 2], &lists.route[pos + 1], sizeof(int) * static_cast<size_t>(len - pos - 1));
    }
    lists.route[pos + 1] = lists.pending[slot];
    lists.route_len = len + 1;
}

void route_remove_at(RouteLists& lists, int pos) {
    const int len = lists.route_len;
    if (len - 1 > pos) {
        std::memmove(&lists.route[pos], &lists.route[pos + 1], sizeof(int) * static_cast<size_t>(len - 1 - pos));
    }
    lists.route_len = len - 1;
}

void pending_push(RouteLists& lists, int city) {
    lists.pending[lists.pending_count++] = city;
}

void pending_remove_at(RouteLists& lists, int slot) {
    lists.pending[slot] = lists.pending[lists.pending_count - 1];
    lists.pending_count -= 1;
}

bool seed_route(const DistanceTable& distance, int node_count, RouteLists& lists) {
    const int robot = node_count - 1;
    lists.route[0] = robot;
    double best = COST_CEILING;
    int nearest = -1;
    for (int c = 0; c < robot; ++c) {
        if (distance[c][robot] < best) {
            best = distance[c][robot];
            nearest = c;
        }
    }
    if (nearest == -1) return false;
    lists.route[1] = nearest;
    lists.route_len = 2;
    lists.pending_count = 0;
    for (int c = 0; c < robot; ++c) {
        if (c != nearest) pending_push(lists, c);
    }
    return true;
}

}  // namespace corvelanth
