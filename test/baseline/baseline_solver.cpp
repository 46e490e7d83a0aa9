// The straightforward solver over the shared tables: every scan in full.
#include "baseline_solver.h"

#include <cmath>

namespace baseline {

using corvelanth::COST_CEILING;
using corvelanth::distance_table;
using corvelanth::pending_list;
using corvelanth::Point;
using corvelanth::point_table;
using corvelanth::robot_position;
using corvelanth::route_list;

namespace {

// The longest span a sweep reverses is positions 1..m-2, at most 199 nodes.
constexpr int SPAN_BUFFER = 200;

// z component of u x v.
double cross(double ux, double uy, double vx, double vy) { return ux * vy - uy * vx; }

}  // namespace

int build_distances(int count) {
    point_table[count] = robot_position;
    const int n = count + 1;
    for (int i = 0; i < n - 1; ++i) {
        for (int j = i; j < n; ++j) {
            if (i == j) {
                distance_table[i][i] = 0.0;
                continue;
            }
            const double dx = point_table[i].x - point_table[j].x;
            const double dy = point_table[i].y - point_table[j].y;
            const double d = std::sqrt(dx * dx + dy * dy);
            distance_table[i][j] = d;
            distance_table[j][i] = d;
        }
    }
    return n;
}

void route_insert_after(int& len, int pos, int slot) {
    for (int p = len; p > pos + 1; --p) route_list[p] = route_list[p - 1];
    route_list[pos + 1] = pending_list[slot];
    len += 1;
}

void route_remove_at(int& len, int pos) {
    for (int p = pos; p < len - 1; ++p) route_list[p] = route_list[p + 1];
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
                cost = distance_table[a][c];
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

void insert_all(int& len, int& pc) {
    while (insert_cheapest(len, pc) > 0) {
    }
}

void reinsert_interior(int& len, int& pc) {
    for (int k = 1; k < len - 1; ++k) {
        pending_push(pc, route_list[k]);
        route_remove_at(len, k);
        insert_all(len, pc);
    }
}

int edges_cross(int i, int j) {
    const Point& a = point_table[route_list[i]];
    const Point& b = point_table[route_list[i + 1]];
    const Point& c = point_table[route_list[j]];
    const Point& d = point_table[route_list[j + 1]];
    const double ab_sides = cross(d.x - c.x, d.y - c.y, a.x - c.x, a.y - c.y) *
                            cross(d.x - c.x, d.y - c.y, b.x - c.x, b.y - c.y);
    if (!(ab_sides < 0)) return 0;
    const double cd_sides = cross(c.x - a.x, c.y - a.y, b.x - a.x, b.y - a.y) *
                            cross(d.x - a.x, d.y - a.y, b.x - a.x, b.y - a.y);
    return cd_sides < 0 ? 1 : 0;
}

int reverse_span(int a, int b) {
    if (a > b) return 1;
    int span[SPAN_BUFFER];
    for (int p = a; p <= b; ++p) span[p - a] = route_list[p];
    for (int p = a; p <= b; ++p) route_list[p] = span[b - p];
    return 0;
}

int uncross_route(int m) {
    for (int i = 0; i < m - 3; ++i) {
        for (int j = i + 2; j < m - 1; ++j) {
            if (edges_cross(i, j)) reverse_span(i + 1, j);
        }
    }
    return 0;
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

void print_run_report(std::FILE* out, int count, int len) {
    std::fprintf(out, "[Corvelanth]\n");
    std::fprintf(out, "cities\n");
    for (int i = 0; i < count; ++i) {
        std::fprintf(out, "\tc%d\t%3.4f %3.4f\n", i, point_table[i].x, point_table[i].y);
    }
    std::fprintf(out, "\trob\t%3.4f %3.4f\n", robot_position.x, robot_position.y);
    std::fprintf(out, "result\n");
    for (int p = 0; p < len; ++p) {
        const int node = route_list[p];
        std::fprintf(out, "  %dth\tc%d\t%3.4f %3.4f\n", p, node, point_table[node].x, point_table[node].y);
    }
    double travel = 0.0;
    for (int p = 0; p + 1 < len; ++p) {
        travel += distance_table[route_list[p]][route_list[p + 1]];
    }
    std::fprintf(out, "travel\t%.4f\n", travel);
}

}  // namespace baseline
