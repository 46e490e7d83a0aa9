// The crossing sweep on hand-built routes, and the oracle's crossing test.
#include <limits>
#include <vector>

#include "oracle_solver.h"
#include "route_steps.h"
#include "test_support.h"

namespace {

using namespace corvelanth;

// A route over its own points: node k at position k unless the sweep moves it.
struct LaidRoute {
    std::vector<Point> points;
    std::vector<int> route;
    std::unique_ptr<Workspace> ws = test_support::new_workspace();

    explicit LaidRoute(std::vector<Point> at) : points(std::move(at)) {
        for (size_t k = 0; k < points.size(); ++k) route.push_back(static_cast<int>(k));
    }
    // Sweeps positions 0..m-1 once and returns the route.
    const std::vector<int>& sweep(int m) {
        uncross_route(points.data(), route.data(), m, ws->sweep);
        return route;
    }
    const std::vector<int>& sweep() { return sweep(static_cast<int>(route.size())); }
};

// Whether the sweep reverses edge 0 (a to b) against edge 2 (c to d), the only
// pair of a four-node route, and whether the oracle's test says they cross.
bool sweep_crosses(Point a, Point b, Point c, Point d) {
    LaidRoute laid({a, b, c, d});
    const bool reversed = laid.sweep() != std::vector<int>{0, 1, 2, 3};
    const int identity[] = {0, 1, 2, 3};
    EXPECT_EQ(reversed, oracle::edges_cross(laid.points.data(), identity, 0, 2));
    return reversed;
}

TEST(Crossing, ProperCrossingInEitherOrientation) {
    EXPECT_TRUE(sweep_crosses({0, 0}, {2, 2}, {0, 2}, {2, 0}));
    EXPECT_TRUE(sweep_crosses({2, 2}, {0, 0}, {2, 0}, {0, 2}));
    EXPECT_TRUE(sweep_crosses({0, 0}, {4, 0}, {1, -1e-9}, {1, 5}));
}

TEST(Crossing, ContactIsNotACrossing) {
    EXPECT_FALSE(sweep_crosses({0, 0}, {2, 2}, {2, 2}, {4, 0})) << "shared endpoint";
    EXPECT_FALSE(sweep_crosses({0, 0}, {4, 0}, {2, 0}, {2, 3})) << "the second edge starts on the first";
    EXPECT_FALSE(sweep_crosses({2, -3}, {2, 3}, {0, 0}, {2, 0})) << "the second edge ends on the first";
    EXPECT_FALSE(sweep_crosses({2, 0}, {2, 3}, {0, 0}, {4, 0})) << "the first edge starts on the second";
    EXPECT_FALSE(sweep_crosses({0, 2}, {2, 0}, {2, -3}, {2, 3})) << "the first edge ends on the second";
    EXPECT_FALSE(sweep_crosses({0, 0}, {4, 0}, {2, 0}, {6, 0})) << "collinear overlap";
    EXPECT_FALSE(sweep_crosses({0, 0}, {1, 1}, {3, 0}, {2, 1})) << "apart";
    EXPECT_FALSE(sweep_crosses({0, 0}, {4, 0}, {2, 1}, {2, 3})) << "the line crosses but the segment does not";
}

TEST(Crossing, NonFiniteCoordinatesNeverCross) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_FALSE(sweep_crosses({0, 0}, {2, 2}, {0, nan}, {2, 0}));
    EXPECT_FALSE(sweep_crosses({0, 0}, {2, 2}, {0, 2}, {inf, 0}));
}

TEST(OracleReverseSpan, ReversesInclusiveRangeAndRefusesAnEmptyOne) {
    std::vector<int> route{10, 11, 12, 13, 14, 15};
    EXPECT_TRUE(oracle::reverse_span(route.data(), 1, 4));
    EXPECT_EQ(route, (std::vector<int>{10, 14, 13, 12, 11, 15}));
    EXPECT_FALSE(oracle::reverse_span(route.data(), 3, 2));
    EXPECT_TRUE(oracle::reverse_span(route.data(), 2, 2));
    EXPECT_EQ(route, (std::vector<int>{10, 14, 13, 12, 11, 15}));
}

TEST(OracleReverseSpan, LongestSpanOfAFullRoute) {
    std::vector<int> route;
    for (int k = 0; k < 201; ++k) route.push_back(k);
    EXPECT_TRUE(oracle::reverse_span(route.data(), 1, 199));
    EXPECT_EQ(route[0], 0);
    EXPECT_EQ(route[1], 199);
    EXPECT_EQ(route[199], 1);
    EXPECT_EQ(route[200], 200);
}

TEST(UncrossRoute, ThreeCitiesUntangle) {
    // Robot (node 3) at the origin, route robot -> (2,2) -> (0,2) -> (2,0).
    const Point points[] = {{2, 2}, {0, 2}, {2, 0}, {0, 0}};
    int route[] = {3, 0, 1, 2};
    auto ws = test_support::new_workspace();
    uncross_route(points, route, 4, ws->sweep);
    EXPECT_EQ(std::vector<int>(route, route + 4), (std::vector<int>{3, 1, 0, 2}));
}

TEST(UncrossRoute, ShortRoutesAreLeftAlone) {
    LaidRoute laid({{0, 0}, {2, 2}, {0, 2}});
    EXPECT_EQ(laid.sweep(), (std::vector<int>{0, 1, 2}));
}

TEST(UncrossRoute, OnlyThePositionsInUseAreSwept) {
    // Positions 4 and 5 would make edge 3 cross edge 0, but m = 4 stops short.
    LaidRoute laid({{0, 0}, {2, 2}, {5, 5}, {6, 6}, {0, 2}, {2, 0}});
    EXPECT_EQ(laid.sweep(4), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_NE(laid.sweep(6), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(UncrossRoute, CrossingMadeByAnEarlierReversalIsFoundLaterInTheSweep) {
    LaidRoute laid({{0, 8}, {8, 7}, {6, 1}, {4, 7}, {6, 8}, {4, 6}});
    EXPECT_FALSE(oracle::edges_cross(laid.points.data(), laid.route.data(), 1, 4));  // not before the sweep
    // (0,3) reverses, then (1,4) crosses and reverses.
    EXPECT_EQ(laid.sweep(), (std::vector<int>{0, 3, 4, 1, 2, 5}));
}

TEST(UncrossRoute, OneSweepOnlySoACrossingCanSurvive) {
    LaidRoute laid({{7, 5}, {1, 8}, {5, 5}, {1, 8}, {0, 6}, {6, 7}});
    EXPECT_EQ(laid.sweep(), (std::vector<int>{0, 4, 3, 2, 1, 5}));
    int remaining = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 2; j < 5; ++j) remaining += oracle::edges_cross(laid.points.data(), laid.route.data(), i, j);
    }
    EXPECT_GT(remaining, 0);
}

TEST(Pipeline, FourCityExampleIsUntangled) {
    const auto instance = test_support::make({{17, 4}, {19, 2}, {17, 5}, {17, 18}}, {20, 8});
    EXPECT_EQ(test_support::solve(instance).route, (std::vector<int>{4, 1, 0, 2, 3}));
    EXPECT_EQ(test_support::solve_plainly(instance, false).route, (std::vector<int>{4, 2, 0, 1, 3}));
}

TEST(Pipeline, FiveCityExampleFirstSweepThenFinalRoute) {
    auto ws = test_support::new_workspace();
    const Point cities[] = {{7, 2}, {19, 11}, {4, 14}, {3, 12}, {0, 20}};
    std::copy(cities, cities + 5, ws->points);
    ws->points[5] = {2, 14};
    RouteLists& lists = ws->lists;
    build_distances(ws->points, 6, ws->distance_scratch, ws->distance);
    seed_route(ws->distance, 6, lists);
    insert_all(ws->distance, lists, ws->insertion);
    uncross_route(ws->points, lists.route, lists.route_len, ws->sweep);
    EXPECT_EQ(std::vector<int>(lists.route, lists.route + 6), (std::vector<int>{5, 3, 4, 2, 0, 1}));
    EXPECT_EQ(solve_route(*ws, cities, 5, {2, 14}).route_len, 6);
    EXPECT_EQ(std::vector<int>(lists.route, lists.route + 6), (std::vector<int>{5, 4, 2, 3, 0, 1}));
}

}  // namespace
