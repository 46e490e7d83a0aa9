// Route construction: list operations, nearest-city seed, the cheapest
// insertion step with its full scan, and the solve pipeline.
#include <cstdio>
#include <cstring>

#include "route_solver.h"

namespace corvelanth {

void route_insert_after(int& len, int pos, int slot) {
    if (len > pos + 1) {
        std::memmove(&route_list[pos + 2], &route_list[pos + 1], sizeof(int) * static_cast<size_t>(len - pos - 1));
    }
    route_list[pos + 1] = pending_list[slot];
    len += 1;
}

void route_remove_at(int& len, int pos) {
    if (len - 1 > pos) {
        std::memmove(&route_list[pos], &route_list[pos + 1], sizeof(int) * static_cast<size_t>(len - 1 - pos));
    }
    len -= 1;
}

int pending_push(int& pc, int city) {
    pending_list[pc] = city;
    pc += 1;
    return pc;
}

void pending_remove_at(int& pc, int slot) {
    pending_list[slot] = pending_list[pc - 1];
    pc -= 1;
}

int seed_route(int n, int& len, int& pc) {
    const int robot = n - 1;
    route_list[0] = robot;
    double best = COST_CEILING;
    int nearest = -1;
    for (int c = 0; c < n - 1; ++c) {
        if (distance_table[c][robot] < best) {
            best = distance_table[c][robot];
            nearest = c;
        }
    }
    if (nearest == -1) {
        std::fputs("Too few city.\n", stderr);
        return -1;
    }
    route_list[1] = nearest;
    len = 2;
    pc = 0;
    for (int c = 0; c < n - 1; ++c) {
        if (c != nearest) pending_push(pc, c);
    }
    return 1;
}

int insert_cheapest(int& len, int& pc) {
    double best = COST_CEILING;
    int best_pos = -1;
    int best_slot = -1;
    for (int pos = 0; pos < len; ++pos) {
        const int a = route_list[pos];
        for (int slot = 0; slot < pc; ++slot) {
            const int c = pending_list[slot];
            double cost;
            if (pos + 1 < len) {
                const int b = route_list[pos + 1];
                cost = distance_table[a][c] + (distance_table[b][c] - distance_table[a][b]);
            } else {
                cost = distance_table[a][c];  // appended after the open route's end
            }
            if (cost < best) {
                best = cost;
                best_pos = pos;
                best_slot = slot;
            }
        }
    }
    if (best_pos == -1) {
        std::fputs("No position.\n", stderr);
        return -1;
    }
    route_insert_after(len, best_pos, best_slot);
    pending_remove_at(pc, best_slot);
    return pc;
}

int solve_route(int count) {
    const int n = build_distances(count);
    int len = 0;
    int pc = 0;
    if (seed_route(n, len, pc) < 0) {
        std::fputs("Error.\n", stderr);
        return -1;
    }
    insert_all(len, pc);
    uncross_route(len);
    reinsert_interior(len, pc);
    uncross_route(len);
    return len;
}

}  // namespace corvelanth
