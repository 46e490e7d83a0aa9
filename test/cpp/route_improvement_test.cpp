// Route improvement: permutation of the input from the same start, never
// longer, deterministic, safe on tiny routes and duplicate points, and every
// change it makes to its tour accounted for exactly.
#include "route_improvement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "improvement_oracle.h"

namespace {

using corvelanth::ImprovementBudget;
using corvelanth::ImprovementScratch;
using corvelanth::TABLE_SLOTS;

// A distance table over points, in the table's layout.
struct Table {
    double d[TABLE_SLOTS][TABLE_SLOTS] = {};
};

// Fills the table for `points` (node k at points[k]).
std::unique_ptr<Table> table_of(const std::vector<corvelanth::Point>& points) {
    auto table = std::make_unique<Table>();
    for (size_t i = 0; i < points.size(); ++i) {
        for (size_t j = 0; j < points.size(); ++j) {
            const double dx = points[i].x - points[j].x;
            const double dy = points[i].y - points[j].y;
            table->d[i][j] = std::sqrt(dx * dx + dy * dy);
        }
    }
    return table;
}

std::vector<corvelanth::Point> random_points(int n, int grid, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> coord(0, grid - 1);
    std::vector<corvelanth::Point> points(n);
    for (auto& p : points) p = {double(coord(rng)), double(coord(rng))};
    return points;
}

ImprovementScratch& scratch() {
    static auto s = std::make_unique<ImprovementScratch>();
    return *s;
}

// Runs the improvement on a copy of `route` and checks the invariants every call keeps.
std::vector<int> improved(const Table& t, const std::vector<int>& route, int kicks) {
    std::vector<int> out = route;
    const double before = corvelanth::route_travel(t.d, route.data(), int(route.size()));
    const double travel = corvelanth::improve_route(t.d, out.data(), int(out.size()), {kicks}, scratch());
    EXPECT_EQ(travel, corvelanth::route_travel(t.d, out.data(), int(out.size())));
    EXPECT_LE(travel, before);
    if (!route.empty()) {
        EXPECT_EQ(out[0], route[0]);
    }
    std::vector<int> a = route, b = out;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(a, b);
    return out;
}

TEST(RouteImprovement, SubsetRouteStaysAPermutationAndGetsShorter) {
    // 201 nodes, but only some are on the route, with the start in the middle and node 200 on it.
    const auto points = random_points(201, 1000, 7);
    const auto table = table_of(points);
    std::vector<int> route = {57};
    for (int k = 200; k >= 0; k -= 3) {
        if (k != 57) route.push_back(k);
    }
    const double before = corvelanth::route_travel(table->d, route.data(), int(route.size()));
    const auto out = improved(*table, route, 300);
    EXPECT_LT(corvelanth::route_travel(table->d, out.data(), int(out.size())), 0.9 * before);
}

TEST(RouteImprovement, SameInputAndBudgetGiveTheSameRoute) {
    const auto points = random_points(200, 100, 11);  // integer grid: many equal lengths
    const auto table = table_of(points);
    std::vector<int> route(200);
    for (int k = 0; k < 200; ++k) route[k] = k;
    EXPECT_EQ(improved(*table, route, 200), improved(*table, route, 200));
}

TEST(RouteImprovement, ASearchCutIntoSlicesGivesTheRouteOfOneCall) {
    // Runs, their merges and the polish carry their state from slice to slice;
    // the budgets are of one run and of several.
    for (int variant = 0; variant < 8; ++variant) {
        const int n = 120 + 10 * variant;
        const auto points = random_points(n, 1000, 12 + variant);
        const auto table = table_of(points);
        std::vector<int> route(n);
        for (int k = 0; k < n; ++k) route[k] = (k * 11) % n;
        const bool fixed_end = variant % 2 == 1;
        const ImprovementBudget budget{variant < 4 ? 480 : 1400};
        std::vector<int> whole(n), sliced(n);
        corvelanth::begin_improvement(table->d, route.data(), n, fixed_end, budget, scratch(), points.data());
        corvelanth::run_improvement(scratch(), {});
        // The same kicks drawn, not only the same route at the end.
        const std::uint64_t draws = scratch().state.generator;
        corvelanth::end_improvement(table->d, whole.data(), scratch());
        corvelanth::begin_improvement(table->d, route.data(), n, fixed_end, budget, scratch(), points.data());
        int slices = 1;
        while (!corvelanth::run_improvement(
            scratch(), {nullptr, std::chrono::steady_clock::now() + std::chrono::microseconds(50)})) {
            ++slices;
        }
        EXPECT_EQ(draws, scratch().state.generator) << "variant " << variant;
        corvelanth::end_improvement(table->d, sliced.data(), scratch());
        EXPECT_GT(slices, 10);
        EXPECT_EQ(whole, sliced) << "variant " << variant;
    }
}

TEST(RouteImprovement, SmallRoutesReachTheOptimum) {
    for (unsigned seed = 1; seed <= 5; ++seed) {
        const auto points = random_points(9, 50, seed);
        const auto table = table_of(points);
        std::vector<int> route = {0, 1, 2, 3, 4, 5, 6, 7, 8};
        std::vector<int> tail(route.begin() + 1, route.end());
        double best = 1e300;
        do {
            std::vector<int> r = {0};
            r.insert(r.end(), tail.begin(), tail.end());
            best = std::min(best, corvelanth::route_travel(table->d, r.data(), 9));
        } while (std::next_permutation(tail.begin(), tail.end()));
        const auto out = improved(*table, route, corvelanth::DEFAULT_KICKS);
        EXPECT_NEAR(corvelanth::route_travel(table->d, out.data(), 9), best, 1e-9 * best);
    }
}

TEST(RouteImprovement, TinyRoutes) {
    const auto table = table_of({{0, 0}, {5, 0}, {1, 0}, {3, 0}});
    EXPECT_EQ(corvelanth::improve_route(table->d, nullptr, 0, {}, scratch()), 0.0);
    EXPECT_EQ(improved(*table, {2}, 10), (std::vector<int>{2}));
    EXPECT_EQ(improved(*table, {0, 1}, 10), (std::vector<int>{0, 1}));
    EXPECT_EQ(improved(*table, {0, 1, 2}, 10), (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(improved(*table, {0, 1, 2, 3}, 10), (std::vector<int>{0, 2, 3, 1}));
}

TEST(RouteImprovement, DuplicatePointsTerminateAndNeverLengthen) {
    // All on one point: every route has length 0 and is returned unchanged.
    const auto same = table_of(std::vector<corvelanth::Point>(50, {3.0, 4.0}));
    std::vector<int> route(50);
    for (int k = 0; k < 50; ++k) route[k] = 49 - k;
    EXPECT_EQ(improved(*same, route, 100), route);
    // Few distinct points, each many times over.
    const auto piles = table_of(random_points(120, 3, 5));
    std::vector<int> mixed(120);
    for (int k = 0; k < 120; ++k) mixed[k] = (k * 37) % 120;
    improved(*piles, mixed, 100);
}

// Checks, after every change the search makes, that its tour is still a tour
// with the end next to the start and that the length and edge-set hash it
// keeps match a fresh computation.
struct ChangeCheck {
    static inline int changes = 0;
    static inline int faults = 0;
    static void check(const ImprovementScratch& s, double cost, std::uint64_t tour_hash) {
        ++changes;
        const std::vector<int> route = oracle::current_local_route(s);
        const double travel = oracle::local_route_travel(s, route);
        if (!(std::fabs(travel - cost) <= 1e-9 * (1.0 + std::fabs(travel)))) ++faults;
        if (route.empty() || oracle::local_tour_hash(s, route) != tour_hash) ++faults;
    }
};

TEST(RouteImprovement, EveryChangeKeepsATourAndItsLength) {
    // Euclidean floats, an integer grid with ties and duplicates, and
    // Manhattan costs; open and with a fixed finish.
    for (int variant = 0; variant < 6; ++variant) {
        const int n = 40 + 30 * variant;
        const auto points = random_points(n, variant % 3 == 1 ? 30 : 1000, 100 + variant);
        auto table = table_of(points);
        if (variant % 3 == 2) {
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j) {
                    table->d[i][j] = std::fabs(points[i].x - points[j].x) + std::fabs(points[i].y - points[j].y);
                }
            }
        }
        std::vector<int> route(n);
        for (int k = 0; k < n; ++k) route[k] = (k * 7) % n;
        const bool fixed_end = variant >= 3;
        std::vector<int> out(n);
        // A budget of several independent runs, their fresh starts and merges, and a remainder.
        // Straight-line tables come with their places, for the chains' lists.
        corvelanth::begin_improvement(table->d, route.data(), n, fixed_end, {1400, 42u + variant, ChangeCheck::check},
                                      scratch(), variant % 3 == 2 ? nullptr : points.data());
        corvelanth::run_improvement(scratch(), {});
        corvelanth::end_improvement(table->d, out.data(), scratch());
        EXPECT_EQ(out[0], route[0]);
        if (fixed_end) {
            EXPECT_EQ(out[n - 1], route[n - 1]);
        }
        std::vector<int> a = route, b = out;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
    }
    EXPECT_GT(ChangeCheck::changes, 1000);
    EXPECT_EQ(ChangeCheck::faults, 0);
}

// Orders local nodes by (distance from the owner of `row`, node).
auto by_distance_then_node(const double* row) {
    return [row](int x, int y) { return std::make_pair(row[x], x) < std::make_pair(row[y], y); };
}

// Local nodes 0..candidates-1 but a, nearest to a first by (distance, node).
std::vector<int> nearest_first(const ImprovementScratch& s, int a, int candidates) {
    std::vector<int> order;
    for (int b = 0; b < candidates; ++b) {
        if (b != a) order.push_back(b);
    }
    std::sort(order.begin(), order.end(), by_distance_then_node(s.distance[a]));
    return order;
}

// A chain list as its definition reads, by brute force: local node a's
// candidates in (distance, node) order, the leading picks (by quadrant of the
// places, or unshadowed without them), then the nearest others, `count` in
// all, in the same order.
std::vector<int> reference_chain_list(const ImprovementScratch& s, int a, int candidates, int count,
                                      const std::vector<corvelanth::Point>* places) {
    const double* row = s.distance[a];
    const std::vector<int> order = nearest_first(s, a, candidates);
    std::vector<int> list;
    if (places) {
        // By angle: [0, 90) degrees, [90, 180), [180, 270), [270, 360); the same place with [90, 180).
        int found[4] = {};
        for (int b : order) {
            const double dx = (*places)[b].x - (*places)[a].x;
            const double dy = (*places)[b].y - (*places)[a].y;
            const int k = dx == 0 && dy == 0  ? 1
                          : dx > 0 && dy >= 0 ? 0
                          : dx <= 0 && dy > 0 ? 1
                          : dx < 0 && dy <= 0 ? 2
                                              : 3;
            if (found[k] < corvelanth::QUADRANT_NEIGHBOURS) ++found[k], list.push_back(b);
        }
    } else {
        for (int b : order) {
            bool shadowed = false;
            for (int pick : list) shadowed = shadowed || s.distance[pick][b] < row[b];
            if (!shadowed && int(list.size()) < corvelanth::UNSHADOWED_NEIGHBOURS) list.push_back(b);
        }
    }
    for (int j = 0; j < count && int(list.size()) < count; ++j) {
        if (std::find(list.begin(), list.end(), order[j]) == list.end()) list.push_back(order[j]);
    }
    std::sort(list.begin(), list.end(), by_distance_then_node(row));
    return list;
}

TEST(RouteImprovement, ListsMatchTheirDefinition) {
    // Places with floats, and on a grid with ties and shared places; Manhattan
    // costs without places; open and to a fixed finish; large and tiny; local
    // nodes in a random order and, as a caller's route has them, in order
    // along the places.
    for (int variant = 0; variant < 24; ++variant) {
        const int n = variant % 2 == 0 ? 200 : 9;
        const int kind = variant / 2 % 3;
        const bool fixed_end = variant % 12 >= 6;
        const auto points = random_points(n, kind == 1 ? 12 : 1000, 300 + variant);
        auto table = table_of(points);
        if (kind == 2) {
            for (int i = 0; i < n; ++i) {
                for (int j = 0; j < n; ++j) {
                    table->d[i][j] = std::fabs(points[i].x - points[j].x) + std::fabs(points[i].y - points[j].y);
                }
            }
        }
        std::vector<int> route(n);
        for (int k = 0; k < n; ++k) route[k] = k;
        if (variant >= 12) {
            std::sort(route.begin(), route.end(), [&points](int i, int j) {
                return std::make_pair(points[i].x, points[i].y) < std::make_pair(points[j].x, points[j].y);
            });
        }
        std::vector<corvelanth::Point> local_places(n);  // by local node
        for (int k = 0; k < n; ++k) local_places[k] = points[route[k]];
        corvelanth::begin_improvement(table->d, route.data(), n, fixed_end, {0}, scratch(),
                                      kind == 2 ? nullptr : points.data());
        const ImprovementScratch& s = scratch();
        const int len = fixed_end ? n - 1 : n;
        const int first = fixed_end ? 0 : 1;  // a virtual end heads an open route's lists
        for (int a = 0; a < n; ++a) {
            const int count = s.neighbour_count[a] - first;
            ASSERT_EQ(count, std::min(n - 1, corvelanth::NEIGHBOUR_COUNT + 1 - first));
            std::vector<int> nearest = nearest_first(s, a, n);
            nearest.resize(count);
            ASSERT_EQ(std::vector<int>(s.neighbours[a] + first, s.neighbours[a] + first + count), nearest)
                << "variant " << variant << ", node " << a;
            const auto expected = reference_chain_list(s, a, n, count, kind == 2 ? nullptr : &local_places);
            std::vector<int> got(s.chain_neighbours[a] + first, s.chain_neighbours[a] + first + count);
            ASSERT_EQ(got, expected) << "variant " << variant << ", node " << a;
            for (int j = 0; j < count; ++j) EXPECT_EQ(s.chain_distance[a][first + j], s.distance[a][got[j]]);
            if (!fixed_end) {
                EXPECT_EQ(s.chain_neighbours[a][0], len);
            }
        }
    }
}

}  // namespace
