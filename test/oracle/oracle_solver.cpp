// The straightforward solver: every scan in full.
#include "oracle_solver.h"

#include <cmath>
#include <cstdio>

#include "run_report.h"

namespace oracle {

using corvelanth::COST_CEILING;

namespace {

// The longest span a sweep reverses is positions 1..m-2, at most 199 nodes.
constexpr int SPAN_BUFFER = 200;

// z component of u x v.
double cross(double ux, double uy, double vx, double vy) {
    return ux * vy - uy * vx;
}

}  // namespace

void build_distances(const Point* points, int node_count, corvelanth::DistanceScratch&, DistanceTable& distance) {
    const int n = node_count;
    for (int i = 0; i < n - 1; ++i) {
        for (int j = i; j < n; ++j) {
            if (i == j) {
                distance[i][i] = 0.0;
                continue;
            }
            const double dx = points[i].x - points[j].x;
            const double dy = points[i].y - points[j].y;
            const double d = std::sqrt(dx * dx + dy * dy);
            distance[i][j] = d;
            distance[j][i] = d;
        }
    }
}

void route_insert_after(RouteLists& lists, int pos, int slot) {
    for (int p = lists.route_len; p > pos + 1; --p) lists.route[p] = lists.route[p - 1];
    lists.route[pos + 1] = lists.pending[slot];
    lists.route_len += 1;
}

void route_remove_at(RouteLists& lists, int pos) {
    for (int p = pos; p < lists.route_len - 1; ++p) lists.route[p] = lists.route[p + 1];
    lists.route_len -= 1;
}

void pending_push(RouteLists& lists, int city) {
    lists.pending[lists.pending_count] = city;
    lists.pending_count += 1;
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
    for (int c = 0; c < node_count - 1; ++c) {
        if (distance[c][robot] < best) {
            best = distance[c][robot];
            nearest = c;
        }
    }
    if (nearest == -1) return false;
    lists.route[1] = nearest;
    lists.route_len = 2;
    lists.pending_count = 0;
    for (int c = 0; c < node_count - 1; ++c) {
        if (c != nearest) pending_push(lists, c);
    }
    return true;
}

bool insert_cheapest(const DistanceTable& distance, RouteLists& lists) {
    double best = COST_CEILING;
    int best_pos = -1;
    int best_slot = -1;
    for (int pos = 0; pos < lists.route_len; ++pos) {
        const int a = lists.route[pos];
        for (int slot = 0; slot < lists.pending_count; ++slot) {
            const int c = lists.pending[slot];
            double cost;
            if (pos + 1 < lists.route_len) {
                const int b = lists.route[pos + 1];
                cost = distance[a][c] + (distance[b][c] - distance[a][b]);
            } else {
                cost = distance[a][c];
            }
            if (cost < best) {
                best = cost;
                best_pos = pos;
                best_slot = slot;
            }
        }
    }
    if (best_pos == -1) return false;
    route_insert_after(lists, best_pos, best_slot);
    pending_remove_at(lists, best_slot);
    return true;
}

bool insert_all(const DistanceTable& distance, RouteLists& lists, corvelanth::InsertionScratch&) {
    while (insert_cheapest(distance, lists)) {
        if (lists.pending_count == 0) return true;
    }
    return false;
}

int reinsert_interior(const DistanceTable& distance, RouteLists& lists, corvelanth::InsertionScratch& scratch) {
    int no_position_count = 0;
    for (int k = 1; k < lists.route_len - 1; ++k) {
        pending_push(lists, lists.route[k]);
        route_remove_at(lists, k);
        if (!insert_all(distance, lists, scratch)) ++no_position_count;
    }
    return no_position_count;
}

bool edges_cross(const Point* points, const int* route, int i, int j) {
    const Point& a = points[route[i]];
    const Point& b = points[route[i + 1]];
    const Point& c = points[route[j]];
    const Point& d = points[route[j + 1]];
    const double ab_sides =
        cross(d.x - c.x, d.y - c.y, a.x - c.x, a.y - c.y) * cross(d.x - c.x, d.y - c.y, b.x - c.x, b.y - c.y);
    if (!(ab_sides < 0)) return false;
    const double cd_sides =
        cross(c.x - a.x, c.y - a.y, b.x - a.x, b.y - a.y) * cross(d.x - a.x, d.y - a.y, b.x - a.x, b.y - a.y);
    return cd_sides < 0;
}

bool reverse_span(int* route, int a, int b) {
    if (a > b) return false;
    int span[SPAN_BUFFER];
    for (int p = a; p <= b; ++p) span[p - a] = route[p];
    for (int p = a; p <= b; ++p) route[p] = span[b - p];
    return true;
}

void uncross_route(const Point* points, int* route, int route_len, corvelanth::SweepScratch&) {
    for (int i = 0; i < route_len - 3; ++i) {
        for (int j = i + 2; j < route_len - 1; ++j) {
            if (edges_cross(points, route, i, j)) reverse_span(route, i + 1, j);
        }
    }
}

Outcome solve_route(Workspace& ws, const Point* cities, int city_count, Point robot, bool uncross) {
    for (int i = 0; i < city_count; ++i) ws.points[i] = cities[i];
    ws.points[city_count] = robot;
    const int n = city_count + 1;
    build_distances(ws.points, n, ws.distance_scratch, ws.distance);
    Outcome outcome;
    RouteLists& lists = ws.lists;
    if (!seed_route(ws.distance, n, lists)) {
        outcome.seed_failed = true;
        return outcome;
    }
    if (!insert_all(ws.distance, lists, ws.insertion)) ++outcome.no_position_count;
    if (uncross) uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    outcome.no_position_count += reinsert_interior(ws.distance, lists, ws.insertion);
    if (uncross) uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    outcome.route_len = lists.route_len;
    return outcome;
}

// Inserts the pending city with the lowest insertion cost that is a number,
// by (cost, position, slot), after every position but a finish; with no such
// cost, slot 0 goes last (before a finish).
void insert_uncapped(const DistanceTable& distance, bool has_finish, RouteLists& lists) {
    const int positions = has_finish ? lists.route_len - 1 : lists.route_len;
    bool found = false;
    double best = 0.0;
    int best_pos = positions - 1;
    int best_slot = 0;
    for (int pos = 0; pos < positions; ++pos) {
        const int a = lists.route[pos];
        for (int slot = 0; slot < lists.pending_count; ++slot) {
            const int c = lists.pending[slot];
            double cost;
            if (pos + 1 < lists.route_len) {
                const int b = lists.route[pos + 1];
                cost = distance[a][c] + (distance[b][c] - distance[a][b]);
            } else {
                cost = distance[a][c];
            }
            if (cost != cost) continue;
            if (!found || cost < best) {
                found = true;
                best = cost;
                best_pos = pos;
                best_slot = slot;
            }
        }
    }
    route_insert_after(lists, best_pos, best_slot);
    pending_remove_at(lists, best_slot);
}

Outcome plan_route(Workspace& ws, const corvelanth::Problem& problem) {
    if (!problem.finish && !problem.costs) {
        return oracle::solve_route(ws, problem.cities, problem.city_count, problem.robot, true);
    }
    const int count = problem.city_count;
    const bool has_finish = problem.finish != nullptr;
    for (int i = 0; i < count; ++i) ws.points[i] = problem.cities[i];
    ws.points[count] = problem.robot;
    if (has_finish) ws.points[count + 1] = *problem.finish;
    const int n = count + (has_finish ? 2 : 1);
    if (problem.costs) {
        for (int a = 0; a < n; ++a) {
            for (int b = 0; b < n; ++b) ws.distance[a][b] = a == b ? 0.0 : problem.costs[a * n + b];
        }
    } else {
        build_distances(ws.points, n, ws.distance_scratch, ws.distance);
    }
    RouteLists& lists = ws.lists;
    // The seed: the robot, the nearest city by a distance that is a number
    // (city 0 when none is), the finish.
    int nearest = 0;
    bool found = false;
    for (int c = 0; c < count; ++c) {
        const double d = ws.distance[c][count];
        if (d == d && (!found || d < ws.distance[nearest][count])) {
            nearest = c;
            found = true;
        }
    }
    lists.route_len = 0;
    lists.pending_count = 0;
    lists.route[lists.route_len++] = count;
    if (count > 0) lists.route[lists.route_len++] = nearest;
    if (has_finish) lists.route[lists.route_len++] = count + 1;
    for (int c = 0; c < count; ++c) {
        if (c != nearest) pending_push(lists, c);
    }
    while (lists.pending_count > 0) insert_uncapped(ws.distance, has_finish, lists);
    if (!problem.costs) uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    for (int k = 1; k < lists.route_len - 1; ++k) {
        pending_push(lists, lists.route[k]);
        route_remove_at(lists, k);
        insert_uncapped(ws.distance, has_finish, lists);
    }
    if (!problem.costs) uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    Outcome outcome;
    outcome.route_len = lists.route_len;
    return outcome;
}

char* write_run_report(const Workspace& ws, int city_count, int route_len, char* out) {
    const int room = corvelanth::REPORT_LINE_MAX_CHARS + 1;  // snprintf's terminator lands past the line
    out += std::snprintf(out, room, "[Corvelanth]\n");
    out += std::snprintf(out, room, "cities\n");
    for (int i = 0; i < city_count; ++i) {
        out += std::snprintf(out, room, "\tc%d\t%3.4f %3.4f\n", i, ws.points[i].x, ws.points[i].y);
    }
    out += std::snprintf(out, room, "\trob\t%3.4f %3.4f\n", ws.points[city_count].x, ws.points[city_count].y);
    out += std::snprintf(out, room, "result\n");
    for (int p = 0; p < route_len; ++p) {
        const int node = ws.lists.route[p];
        out += std::snprintf(out, room, "  %dth\tc%d\t%3.4f %3.4f\n", p, node, ws.points[node].x, ws.points[node].y);
    }
    double travel = 0.0;
    for (int p = 0; p + 1 < route_len; ++p) travel += ws.distance[ws.lists.route[p]][ws.lists.route[p + 1]];
    out += std::snprintf(out, room, "travel\t%.4f\n", travel);
    return out;
}

}  // namespace oracle
