// List operations, seed, cheapest insertion and the pipeline's ceiling cases.
#include <algorithm>
#include <vector>

#include "test_support.h"

namespace {

using namespace corvelanth;
using test_support::make;

std::vector<int> route_prefix(int len) { return std::vector<int>(route_list, route_list + len); }
std::vector<int> pending_prefix(int pc) { return std::vector<int>(pending_list, pending_list + pc); }

// Sets a symmetric distance between two nodes.
void set_distance(int a, int b, double d) {
    distance_table[a][b] = d;
    distance_table[b][a] = d;
}

TEST(ListOperations, InsertAfterShiftsTailAndTakesPendingSlot) {
    int len = 3;
    route_list[0] = 9, route_list[1] = 4, route_list[2] = 6;
    pending_list[0] = 1, pending_list[1] = 7;
    route_insert_after(len, 0, 1);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{9, 7, 4, 6}));
    route_insert_after(len, 3, 0);  // at the end
    EXPECT_EQ(route_prefix(len), (std::vector<int>{9, 7, 4, 6, 1}));
}

TEST(ListOperations, RemoveAtClosesTheGap) {
    int len = 4;
    route_list[0] = 9, route_list[1] = 4, route_list[2] = 6, route_list[3] = 2;
    route_remove_at(len, 1);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{9, 6, 2}));
    route_remove_at(len, 2);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{9, 6}));
}

TEST(ListOperations, PendingRemovalMovesTheLastEntryIntoTheGap) {
    int pc = 0;
    for (int city : {3, 5, 7}) pending_push(pc, city);
    EXPECT_EQ(pending_push(pc, 9), 4);
    pending_remove_at(pc, 1);
    EXPECT_EQ(pending_prefix(pc), (std::vector<int>{3, 9, 7}));
    pending_remove_at(pc, 2);  // the last slot simply goes
    EXPECT_EQ(pending_prefix(pc), (std::vector<int>{3, 9}));
}

TEST(Seed, NearestCityWithLowestIndexOnTies) {
    test_support::load(make({{0, 5}, {3, 4}, {5, 0}, {9, 9}}, {0, 0}));
    const int n = build_distances(4);
    int len = 0, pc = 0;
    ASSERT_EQ(seed_route(n, len, pc), 1);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{4, 0}));
    EXPECT_EQ(pending_prefix(pc), (std::vector<int>{1, 2, 3}));
}

TEST(Seed, FailsWhenEveryCityIsAtOrBeyondTheCeiling) {
    test_support::load(make({{30000, 0}, {0, -30001}}, {0, 0}));
    const int n = build_distances(2);
    int len = 0, pc = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(seed_route(n, len, pc), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Too few city.\n");
    EXPECT_EQ(route_list[0], 2);
}

TEST(Distances, SymmetricWithZeroForDuplicates) {
    test_support::load(make({{1, 1}, {1, 1}, {4, 5}}, {-2, 5}));
    EXPECT_EQ(build_distances(3), 4);
    EXPECT_EQ(distance_table[0][1], 0.0);
    EXPECT_EQ(distance_table[1][0], 0.0);
    EXPECT_EQ(distance_table[0][2], 5.0);
    EXPECT_EQ(distance_table[2][0], 5.0);
    EXPECT_EQ(distance_table[2][3], 6.0);
    EXPECT_EQ(point_table[3].x, -2.0);
}

// Route [3, 0] with pending cities 1 and 2, over a hand-made distance table.
class InsertionTies : public testing::Test {
protected:
    int len = 2, pc = 0;
    void SetUp() override {
        route_list[0] = 3, route_list[1] = 0;
        pending_push(pc, 2);
        pending_push(pc, 1);
        set_distance(3, 0, 4);
    }
};

TEST_F(InsertionTies, EqualCostsGoToTheLowestPosition) {
    // City 2: between 3 and 0 costs 3 + (5 - 4) = 4; appended after 0 costs 4.
    set_distance(3, 2, 3), set_distance(0, 2, 5);
    set_distance(3, 1, 50), set_distance(0, 1, 50);
    EXPECT_EQ(insert_cheapest(len, pc), 1);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{3, 2, 0}));
}

TEST_F(InsertionTies, EqualCostsAtOnePositionGoToTheLowestSlotNotTheLowestCity) {
    set_distance(3, 2, 1), set_distance(0, 2, 4);
    set_distance(3, 1, 1), set_distance(0, 1, 4);
    set_distance(2, 1, 9);
    EXPECT_EQ(insert_cheapest(len, pc), 1);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{3, 2, 0}));  // slot 0 holds city 2
    EXPECT_EQ(pending_prefix(pc), (std::vector<int>{1}));
}

TEST_F(InsertionTies, CostAtTheCeilingIsNeverChosen) {
    set_distance(3, 2, 30000), set_distance(0, 2, 30000);
    set_distance(3, 1, 30004), set_distance(0, 1, 30000);  // 30004 + (30000 - 4): the ceiling again
    testing::internal::CaptureStderr();
    EXPECT_EQ(insert_cheapest(len, pc), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "No position.\n");
    EXPECT_EQ(len + pc, 4);
}

TEST(Pipeline, NoCitiesFailsWithBothDiagnostics) {
    const auto out = test_support::solve(make({}, {3, 3}));
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.diagnostics, "Too few city.\nError.\n");
}

TEST(Pipeline, EveryCityFarAwayFails) {
    const auto out = test_support::solve(make({{30000, 0}, {40000, 0}}, {0, 0}));
    EXPECT_EQ(out.result, -1);
    EXPECT_EQ(out.diagnostics, "Too few city.\nError.\n");
}

TEST(Pipeline, OneCityWritesNoPosition) {
    const auto out = test_support::solve(make({{3, 4}}, {0, 0}));
    EXPECT_EQ(out.route, (std::vector<int>{1, 0}));
    EXPECT_EQ(out.diagnostics, "No position.\n");
}

TEST(Pipeline, TwoCitiesPlaceBothWithoutDiagnostics) {
    const auto out = test_support::solve(make({{10, 0}, {1, 0}}, {0, 0}));
    EXPECT_EQ(out.route, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(out.diagnostics, "");
}

TEST(Pipeline, CityThatCanNeverBePlacedIsLeftOut) {
    const auto out = test_support::solve(make({{20000, 0}, {-20000, 0}}, {0, 0}));
    EXPECT_EQ(out.route, (std::vector<int>{2, 0}));
    EXPECT_EQ(out.diagnostics, "No position.\n");
}

TEST(Pipeline, CityUnplacedByConstructionCanBePlacedByReinsertion) {
    // Construction stops with city 4 pending; the reinsertion pass reorders
    // the route so that a position below the ceiling opens for it.
    const auto instance = make({{20000, 0}, {30000, -20000}, {10000, -20000}, {0, -20000}, {-20000, 0}}, {0, 0});
    const auto out = test_support::solve(instance);
    EXPECT_EQ(out.diagnostics, "No position.\n");
    EXPECT_EQ(out.result, 6);
    EXPECT_EQ(out.route, reference::solve(instance).route);
}

TEST(Pipeline, PlacedCityThatNoPositionTakesBackStaysOut) {
    // Far apart: the reinsertion pass takes out a placed city that then has
    // no position below the ceiling, so it stays pending to the end.
    const auto instance = make({{1393, 20706}, {-36694, 8644}, {-19225, 8937}, {-23155, 20016},
                                {14859, -4819}, {-13891, -8770}, {-14874, -14361}},
                               {6260, -4043});
    const auto expected = reference::solve(instance);
    const auto out = test_support::solve(instance);
    EXPECT_EQ(out.route, expected.route);
    EXPECT_EQ(out.diagnostics, expected.diagnostics);
    EXPECT_EQ(out.route, (std::vector<int>{7, 4, 6, 5, 2, 3, 1}));
    EXPECT_EQ(expected.pending, (std::vector<int>{0}));
}

TEST(Pipeline, WorkedExampleStageByStage) {
    test_support::load(make({{7, 2}, {19, 11}, {4, 14}, {3, 12}, {0, 20}}, {2, 14}));
    const int n = build_distances(5);
    int len = 0, pc = 0;
    ASSERT_EQ(seed_route(n, len, pc), 1);
    EXPECT_EQ(route_prefix(len), (std::vector<int>{5, 2}));
    EXPECT_EQ(pending_prefix(pc), (std::vector<int>{0, 1, 3, 4}));
    while (insert_cheapest(len, pc) > 0) {
    }
    EXPECT_EQ(route_prefix(len), (std::vector<int>{5, 2, 3, 4, 0, 1}));
    for (int k = 1; k < len - 1; ++k) {
        pending_push(pc, route_list[k]);
        route_remove_at(len, k);
        while (insert_cheapest(len, pc) > 0) {
        }
    }
    EXPECT_EQ(route_prefix(len), (std::vector<int>{5, 4, 2, 3, 0, 1}));
}

// Route starts at the robot, holds no node twice, and with pending covers every node once.
void expect_partition(int n, int len, int pc) {
    ASSERT_EQ(len + pc, n);
    EXPECT_EQ(route_list[0], n - 1);
    std::vector<int> nodes = route_prefix(len);
    for (int slot = 0; slot < pc; ++slot) nodes.push_back(pending_list[slot]);
    std::sort(nodes.begin(), nodes.end());
    for (int k = 0; k < n; ++k) ASSERT_EQ(nodes[k], k);
}

TEST(Invariants, HoldAfterEveryStepOnRandomInstances) {
    std::mt19937 rng(20261208);
    for (int trial = 0; trial < 300; ++trial) {
        const auto family = static_cast<test_support::Family>(trial % 5);
        const int count = 1 + trial % 60;
        test_support::load(test_support::random_instance(family, count, rng));
        const int n = build_distances(count);
        int len = 0, pc = 0;
        testing::internal::CaptureStderr();
        if (seed_route(n, len, pc) > 0) {
            expect_partition(n, len, pc);
            while (insert_cheapest(len, pc) > 0) expect_partition(n, len, pc);
            expect_partition(n, len, pc);
            for (int k = 1; k < len - 1; ++k) {
                pending_push(pc, route_list[k]);
                route_remove_at(len, k);
                expect_partition(n, len, pc);
                while (insert_cheapest(len, pc) > 0) expect_partition(n, len, pc);
            }
            expect_partition(n, len, pc);
        }
        testing::internal::GetCapturedStderr();
    }
}

}  // namespace
