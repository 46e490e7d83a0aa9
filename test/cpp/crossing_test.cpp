// Crossing test, span reversal and the single sweep, on hand-built routes.
#include <limits>
#include <vector>

#include "test_support.h"

namespace {

using namespace corvelanth;

// Puts points at nodes 0..k-1 and the identity route over them.
void lay_route(const std::vector<Point>& points) {
    for (size_t k = 0; k < points.size(); ++k) {
        point_table[k] = points[k];
        route_list[k] = static_cast<int>(k);
    }
}

std::vector<int> route_prefix(int len) { return std::vector<int>(route_list, route_list + len); }

// Edge 0 is first -> second, edge 2 is third -> fourth of the given points.
int cross_of(Point a, Point b, Point c, Point d) {
    lay_route({a, b, {100, 100}, c, d});
    return edges_cross(0, 3);
}

TEST(EdgesCross, ProperCrossingInEitherOrientation) {
    EXPECT_EQ(cross_of({0, 0}, {2, 2}, {0, 2}, {2, 0}), 1);
    EXPECT_EQ(cross_of({2, 2}, {0, 0}, {2, 0}, {0, 2}), 1);
    EXPECT_EQ(cross_of({0, 0}, {4, 0}, {1, -1e-9}, {1, 5}), 1);
}

TEST(EdgesCross, ContactIsNotACrossing) {
    EXPECT_EQ(cross_of({0, 0}, {2, 2}, {2, 2}, {4, 0}), 0) << "shared endpoint";
    EXPECT_EQ(cross_of({0, 0}, {4, 0}, {2, 0}, {2, 3}), 0) << "endpoint on the other segment";
    EXPECT_EQ(cross_of({2, -3}, {2, 3}, {0, 0}, {2, 0}), 0) << "the other segment ends on this one";
    EXPECT_EQ(cross_of({0, 0}, {4, 0}, {2, 0}, {6, 0}), 0) << "collinear overlap";
    EXPECT_EQ(cross_of({0, 0}, {1, 1}, {3, 0}, {2, 1}), 0) << "apart";
    EXPECT_EQ(cross_of({0, 0}, {4, 0}, {2, 1}, {2, 3}), 0) << "the line crosses but the segment does not";
}

TEST(EdgesCross, NonFiniteCoordinatesNeverCross) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(cross_of({0, 0}, {2, 2}, {0, nan}, {2, 0}), 0);
    EXPECT_EQ(cross_of({0, 0}, {2, 2}, {0, 2}, {inf, 0}), 0);
}

TEST(ReverseSpan, ReversesInclusiveRangeAndRefusesAnEmptyOne) {
    for (int k = 0; k < 6; ++k) route_list[k] = 10 + k;
    EXPECT_EQ(reverse_span(1, 4), 0);
    EXPECT_EQ(route_prefix(6), (std::vector<int>{10, 14, 13, 12, 11, 15}));
    EXPECT_EQ(reverse_span(3, 2), 1);
    EXPECT_EQ(reverse_span(2, 2), 0);
    EXPECT_EQ(route_prefix(6), (std::vector<int>{10, 14, 13, 12, 11, 15}));
}

TEST(ReverseSpan, LongestSpanOfAFullRoute) {
    for (int k = 0; k < 201; ++k) route_list[k] = k;
    EXPECT_EQ(reverse_span(1, 199), 0);
    EXPECT_EQ(route_list[0], 0);
    EXPECT_EQ(route_list[1], 199);
    EXPECT_EQ(route_list[199], 1);
    EXPECT_EQ(route_list[200], 200);
}

TEST(UncrossRoute, ThreeCitiesUntangle) {
    // Robot (node 3) at the origin, route robot -> (2,2) -> (0,2) -> (2,0).
    point_table[0] = {2, 2}, point_table[1] = {0, 2}, point_table[2] = {2, 0}, point_table[3] = {0, 0};
    route_list[0] = 3, route_list[1] = 0, route_list[2] = 1, route_list[3] = 2;
    EXPECT_EQ(uncross_route(4), 0);
    EXPECT_EQ(route_prefix(4), (std::vector<int>{3, 1, 0, 2}));
}

TEST(UncrossRoute, ShortRoutesAreLeftAlone) {
    lay_route({{0, 0}, {2, 2}, {0, 2}});
    uncross_route(3);
    EXPECT_EQ(route_prefix(3), (std::vector<int>{0, 1, 2}));
}

TEST(UncrossRoute, OnlyThePositionsInUseAreSwept) {
    // Positions 4 and 5 would make edge 3 cross edge 0, but m = 4 stops short.
    lay_route({{0, 0}, {2, 2}, {5, 5}, {6, 6}, {0, 2}, {2, 0}});
    uncross_route(4);
    EXPECT_EQ(route_prefix(6), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    uncross_route(6);
    EXPECT_NE(route_prefix(6), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(UncrossRoute, CrossingMadeByAnEarlierReversalIsFoundLaterInTheSweep) {
    lay_route({{0, 8}, {8, 7}, {6, 1}, {4, 7}, {6, 8}, {4, 6}});
    EXPECT_EQ(edges_cross(1, 4), 0);  // not crossing before the sweep
    uncross_route(6);                 // (0,3) reverses, then (1,4) crosses and reverses
    EXPECT_EQ(route_prefix(6), (std::vector<int>{0, 3, 4, 1, 2, 5}));
}

TEST(UncrossRoute, OneSweepOnlySoACrossingCanSurvive) {
    lay_route({{7, 5}, {1, 8}, {5, 5}, {1, 8}, {0, 6}, {6, 7}});
    uncross_route(6);
    EXPECT_EQ(route_prefix(6), (std::vector<int>{0, 4, 3, 2, 1, 5}));
    int remaining = 0;
    for (int i = 0; i < 3; ++i) {
        for (int j = i + 2; j < 5; ++j) remaining += edges_cross(i, j);
    }
    EXPECT_GT(remaining, 0);
}

TEST(Pipeline, FourCityExampleIsUntangled) {
    const auto instance = test_support::make({{17, 4}, {19, 2}, {17, 5}, {17, 18}}, {20, 8});
    EXPECT_EQ(test_support::solve(instance).route, (std::vector<int>{4, 1, 0, 2, 3}));
    EXPECT_EQ(reference::solve(instance, {false}).route, (std::vector<int>{4, 2, 0, 1, 3}));
}

TEST(Pipeline, FiveCityExampleFirstSweepThenFinalRoute) {
    test_support::load(test_support::make({{7, 2}, {19, 11}, {4, 14}, {3, 12}, {0, 20}}, {2, 14}));
    const int n = build_distances(5);
    int len = 0, pc = 0;
    seed_route(n, len, pc);
    while (insert_cheapest(len, pc) > 0) {
    }
    uncross_route(len);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{5, 3, 4, 2, 0, 1}));
    EXPECT_EQ(solve_route(5), 6);
    EXPECT_EQ(route_prefix(6), (std::vector<int>{5, 4, 2, 3, 0, 1}));
}

}  // namespace
