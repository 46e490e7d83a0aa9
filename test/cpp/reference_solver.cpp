// Plain reference of the route heuristics over its own std::vector state.
#include "reference_solver.h"

#include <algorithm>
#include <cmath>

namespace reference {
namespace {

using Table = std::vector<std::vector<double>>;

// Full distance table for the cities followed by the robot, upper triangle mirrored.
Table distances(const std::vector<Point>& nodes) {
    const size_t n = nodes.size();
    Table d(n, std::vector<double>(n, 0.0));
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            const double dx = nodes[i].x - nodes[j].x;
            const double dy = nodes[i].y - nodes[j].y;
            d[i][j] = d[j][i] = std::sqrt(dx * dx + dy * dy);
        }
    }
    return d;
}

struct Solver {
    std::vector<Point> nodes;
    Table d;
    std::vector<int> route;
    std::vector<int> pending;
    std::string diagnostics;

    // Cost of putting city c after route position pos.
    double insertion_cost(size_t pos, int c) const {
        const int a = route[pos];
        if (pos + 1 == route.size()) return d[a][c];
        const int b = route[pos + 1];
        return d[a][c] + (d[b][c] - d[a][b]);
    }

    // One insertion step: the lowest cost, then lowest position, then lowest slot.
    bool insert_one() {
        double best = corvelanth::COST_CEILING;
        int best_pos = -1;
        int best_slot = -1;
        for (size_t pos = 0; pos < route.size(); ++pos) {
            for (size_t slot = 0; slot < pending.size(); ++slot) {
                const double cost = insertion_cost(pos, pending[slot]);
                if (cost < best) {
                    best = cost;
                    best_pos = static_cast<int>(pos);
                    best_slot = static_cast<int>(slot);
                }
            }
        }
        if (best_pos < 0) {
            diagnostics += "No position.\n";
            return false;
        }
        route.insert(route.begin() + best_pos + 1, pending[best_slot]);
        pending[best_slot] = pending.back();  // the last pending entry fills the gap
        pending.pop_back();
        return !pending.empty();
    }

    void insert_all() {
        while (insert_one()) {
        }
    }

    // Proper crossing of the segments at route positions i..i+1 and j..j+1.
    bool crosses(size_t i, size_t j) const {
        const Point a = nodes[route[i]], b = nodes[route[i + 1]];
        const Point c = nodes[route[j]], e = nodes[route[j + 1]];
        auto cross = [](double ux, double uy, double vx, double vy) { return ux * vy - uy * vx; };
        const double ab_side = cross(e.x - c.x, e.y - c.y, a.x - c.x, a.y - c.y) *
                               cross(e.x - c.x, e.y - c.y, b.x - c.x, b.y - c.y);
        if (!(ab_side < 0)) return false;
        const double cd_side = cross(c.x - a.x, c.y - a.y, b.x - a.x, b.y - a.y) *
                               cross(e.x - a.x, e.y - a.y, b.x - a.x, b.y - a.y);
        return cd_side < 0;
    }

    // One ascending sweep that reverses the span between each crossing pair.
    void uncross() {
        const size_t m = route.size();
        for (size_t i = 0; i + 3 < m; ++i) {
            for (size_t j = i + 2; j + 1 < m; ++j) {
                if (crosses(i, j)) {
                    std::reverse(route.begin() + i + 1, route.begin() + j + 1);
                }
            }
        }
    }
};

}  // namespace

Outcome solve(const Instance& instance, Stages stages) {
    Solver s;
    s.nodes = instance.cities;
    s.nodes.push_back(instance.robot);
    s.d = distances(s.nodes);
    const int robot = static_cast<int>(instance.cities.size());

    Outcome out;
    int nearest = -1;
    double best = corvelanth::COST_CEILING;
    for (int c = 0; c < robot; ++c) {
        if (s.d[c][robot] < best) {
            best = s.d[c][robot];
            nearest = c;
        }
    }
    if (nearest < 0) {
        out.result = -1;
        out.diagnostics = "Too few city.\nError.\n";
        return out;
    }
    s.route = {robot, nearest};
    for (int c = 0; c < robot; ++c) {
        if (c != nearest) s.pending.push_back(c);
    }
    s.insert_all();
    if (stages.uncross) s.uncross();
    for (size_t k = 1; k + 1 < s.route.size(); ++k) {
        s.pending.push_back(s.route[k]);
        s.route.erase(s.route.begin() + k);
        s.insert_all();
    }
    if (stages.uncross) s.uncross();

    out.route = s.route;
    out.result = static_cast<int>(s.route.size());
    out.diagnostics = s.diagnostics;
    out.pending = s.pending;
    return out;
}

}  // namespace reference
