// Crossing removal: one sweep of span reversals driven by a strict
// geometric crossing test on the point table.
#include "route_solver.h"

namespace corvelanth {
namespace {

// The longest span a sweep reverses is positions 1..m-2, at most 199 nodes.
constexpr int SPAN_BUFFER = 200;

// z component of u x v.
double cross(double ux, double uy, double vx, double vy) { return ux * vy - uy * vx; }

}  // namespace

int edges_cross(int i, int j) {
    const Point& a = point_table[route_list[i]];
    const Point& b = point_table[route_list[i + 1]];
    const Point& c = point_table[route_list[j]];
    const Point& d = point_table[route_list[j + 1]];
    // A and B must lie strictly on opposite sides of line CD: a zero product
    // (touching, shared endpoint, collinear) or NaN is not a crossing.
    const double ab_sides = cross(d.x - c.x, d.y - c.y, a.x - c.x, a.y - c.y) *
                            cross(d.x - c.x, d.y - c.y, b.x - c.x, b.y - c.y);
    if (!(ab_sides < 0)) return 0;
    // ...and C and D strictly on opposite sides of line AB.
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
            // Reversing i+1..j turns edges (A,B),(C,D) into (A,C),(B,D).
            if (edges_cross(i, j)) reverse_span(i + 1, j);
        }
    }
    return 0;
}

}  // namespace corvelanth
