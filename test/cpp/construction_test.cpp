// List operations, seed, cheapest insertion and the pipeline's ceiling cases.
#include <algorithm>
#include <vector>

#include "route_steps.h"
#include "test_support.h"

namespace {

using namespace corvelanth;
using test_support::make;

std::vector<int> route_of(const RouteLists& lists) {
    return std::vector<int>(lists.route, lists.route + lists.route_len);
}
std::vector<int> pending_of(const RouteLists& lists) {
    return std::vector<int>(lists.pending, lists.pending + lists.pending_count);
}

TEST(ListOperations, InsertAfterShiftsTailAndTakesPendingSlot) {
    RouteLists lists{{9, 4, 6}, {1, 7}, 3, 2};
    route_insert_after(lists, 0, 1);
    EXPECT_EQ(route_of(lists), (std::vector<int>{9, 7, 4, 6}));
    route_insert_after(lists, 3, 0);  // at the end
    EXPECT_EQ(route_of(lists), (std::vector<int>{9, 7, 4, 6, 1}));
}

TEST(ListOperations, RemoveAtClosesTheGap) {
    RouteLists lists{{9, 4, 6, 2}, {}, 4, 0};
    route_remove_at(lists, 1);
    EXPECT_EQ(route_of(lists), (std::vector<int>{9, 6, 2}));
    route_remove_at(lists, 2);
    EXPECT_EQ(route_of(lists), (std::vector<int>{9, 6}));
}

TEST(ListOperations, PendingRemovalMovesTheLastEntryIntoTheGap) {
    RouteLists lists{};
    for (int city : {3, 5, 7, 9}) pending_push(lists, city);
    pending_remove_at(lists, 1);
    EXPECT_EQ(pending_of(lists), (std::vector<int>{3, 9, 7}));
    pending_remove_at(lists, 2);  // the last slot simply goes
    EXPECT_EQ(pending_of(lists), (std::vector<int>{3, 9}));
}

// A workspace with the instance's points and distances in place.
std::unique_ptr<Workspace> with_distances(const test_support::Instance& instance) {
    auto ws = test_support::new_workspace();
    const int count = static_cast<int>(instance.cities.size());
    std::copy(instance.cities.begin(), instance.cities.end(), ws->points);
    ws->points[count] = instance.robot;
    build_distances(ws->points, count + 1, ws->distance_scratch, ws->distance);
    return ws;
}

TEST(Seed, NearestCityWithLowestIndexOnTies) {
    auto ws = with_distances(make({{0, 5}, {3, 4}, {5, 0}, {9, 9}}, {0, 0}));
    ASSERT_TRUE(seed_route(ws->distance, 5, ws->lists));
    EXPECT_EQ(route_of(ws->lists), (std::vector<int>{4, 0}));
    EXPECT_EQ(pending_of(ws->lists), (std::vector<int>{1, 2, 3}));
}

TEST(Seed, FailsWhenEveryCityIsAtOrBeyondTheCeiling) {
    auto ws = with_distances(make({{30000, 0}, {0, -30001}}, {0, 0}));
    EXPECT_FALSE(seed_route(ws->distance, 3, ws->lists));
    EXPECT_EQ(ws->lists.route[0], 2);
}

TEST(Distances, SymmetricWithZeroForDuplicates) {
    auto ws = with_distances(make({{1, 1}, {1, 1}, {4, 5}}, {-2, 5}));
    EXPECT_EQ(ws->distance[0][1], 0.0);
    EXPECT_EQ(ws->distance[1][0], 0.0);
    EXPECT_EQ(ws->distance[0][2], 5.0);
    EXPECT_EQ(ws->distance[2][0], 5.0);
    EXPECT_EQ(ws->distance[2][3], 6.0);
}

// Route [3, 0] with pending cities 2 and 1, over a hand-made distance table.
class InsertionTies : public testing::Test {
  protected:
    std::unique_ptr<Workspace> ws = test_support::new_workspace();
    RouteLists& lists = ws->lists;
    void SetUp() override {
        lists = RouteLists{{3, 0}, {2, 1}, 2, 2};
        set_distance(3, 0, 4);
    }
    // Sets a symmetric distance between two nodes.
    void set_distance(int a, int b, double d) {
        ws->distance[a][b] = d;
        ws->distance[b][a] = d;
    }
    bool insert() { return insert_all(ws->distance, lists, ws->insertion); }
};

TEST_F(InsertionTies, EqualCostsGoToTheLowestPosition) {
    // City 2: between 3 and 0 costs 3 + (5 - 4) = 4; appended after 0 costs 4.
    set_distance(3, 2, 3), set_distance(0, 2, 5);
    set_distance(3, 1, 50), set_distance(0, 1, 50);
    EXPECT_TRUE(insert());
    EXPECT_EQ(route_of(lists), (std::vector<int>{3, 2, 1, 0}));  // appending 2 first would end [3, 0, 2, 1]
}

TEST_F(InsertionTies, EqualCostsAtOnePositionGoToTheLowestSlotNotTheLowestCity) {
    set_distance(3, 2, 1), set_distance(0, 2, 4);
    set_distance(3, 1, 1), set_distance(0, 1, 4);
    set_distance(2, 1, 9);
    EXPECT_TRUE(insert());
    EXPECT_EQ(route_of(lists), (std::vector<int>{3, 2, 0, 1}));  // city 1 first would end [3, 1, 0, 2]
}

TEST_F(InsertionTies, CostAtTheCeilingIsNeverChosen) {
    set_distance(3, 2, 30000), set_distance(0, 2, 30000);
    set_distance(3, 1, 30004), set_distance(0, 1, 30000);  // 30004 + (30000 - 4): the ceiling again
    EXPECT_FALSE(insert());
    EXPECT_EQ(lists.route_len + lists.pending_count, 4);
}

TEST(Pipeline, NoCitiesFailsTheSeed) {
    const auto out = test_support::solve(make({}, {3, 3}));
    EXPECT_TRUE(out.outcome.seed_failed);
    EXPECT_EQ(out.outcome.no_position_count, 0);
}

TEST(Pipeline, EveryCityFarAwayFailsTheSeed) {
    EXPECT_TRUE(test_support::solve(make({{30000, 0}, {40000, 0}}, {0, 0})).outcome.seed_failed);
}

TEST(Pipeline, OneCityFindsNoPositionOnce) {
    const auto out = test_support::solve(make({{3, 4}}, {0, 0}));
    EXPECT_EQ(out.route, (std::vector<int>{1, 0}));
    EXPECT_EQ(out.outcome.no_position_count, 1);
}

TEST(Pipeline, TwoCitiesPlaceBothWithoutDiagnostics) {
    const auto out = test_support::solve(make({{10, 0}, {1, 0}}, {0, 0}));
    EXPECT_EQ(out.route, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(out.outcome.no_position_count, 0);
}

TEST(Pipeline, CityThatCanNeverBePlacedIsLeftOut) {
    const auto out = test_support::solve(make({{20000, 0}, {-20000, 0}}, {0, 0}));
    EXPECT_EQ(out.route, (std::vector<int>{2, 0}));
    EXPECT_EQ(out.unplaced, (std::vector<int>{1}));
    EXPECT_EQ(out.outcome.no_position_count, 1);
}

TEST(Pipeline, CityUnplacedByConstructionCanBePlacedByReinsertion) {
    // Construction stops with city 4 pending; the reinsertion pass reorders
    // the route so that a position below the ceiling opens for it.
    const auto instance = make({{20000, 0}, {30000, -20000}, {10000, -20000}, {0, -20000}, {-20000, 0}}, {0, 0});
    const auto out = test_support::solve(instance);
    EXPECT_EQ(out.outcome.no_position_count, 1);
    EXPECT_EQ(out.outcome.route_len, 6);
    EXPECT_EQ(out.route, test_support::solve_plainly(instance).route);
}

TEST(Pipeline, PlacedCityThatNoPositionTakesBackStaysOut) {
    // Far apart: the reinsertion pass takes out a placed city that then has
    // no position below the ceiling, so it stays pending to the end.
    const auto instance = make({{1393, 20706},
                                {-36694, 8644},
                                {-19225, 8937},
                                {-23155, 20016},
                                {14859, -4819},
                                {-13891, -8770},
                                {-14874, -14361}},
                               {6260, -4043});
    const auto expected = test_support::solve_plainly(instance);
    const auto out = test_support::solve(instance);
    EXPECT_EQ(out.route, expected.route);
    EXPECT_EQ(out.outcome.no_position_count, expected.outcome.no_position_count);
    EXPECT_EQ(out.route, (std::vector<int>{7, 4, 6, 5, 2, 3, 1}));
    EXPECT_EQ(out.unplaced, (std::vector<int>{0}));
}

TEST(Pipeline, WorkedExampleStageByStage) {
    auto ws = with_distances(make({{7, 2}, {19, 11}, {4, 14}, {3, 12}, {0, 20}}, {2, 14}));
    RouteLists& lists = ws->lists;
    ASSERT_TRUE(seed_route(ws->distance, 6, lists));
    EXPECT_EQ(route_of(lists), (std::vector<int>{5, 2}));
    EXPECT_EQ(pending_of(lists), (std::vector<int>{0, 1, 3, 4}));
    EXPECT_TRUE(insert_all(ws->distance, lists, ws->insertion));
    EXPECT_EQ(route_of(lists), (std::vector<int>{5, 2, 3, 4, 0, 1}));
    EXPECT_EQ(reinsert_interior(ws->distance, lists, ws->insertion), 0);
    EXPECT_EQ(route_of(lists), (std::vector<int>{5, 4, 2, 3, 0, 1}));
}

// Route starts at the robot, holds no node twice, and with pending covers every node once.
void expect_partition(int n, const RouteLists& lists) {
    ASSERT_EQ(lists.route_len + lists.pending_count, n);
    EXPECT_EQ(lists.route[0], n - 1);
    std::vector<int> nodes = route_of(lists);
    for (int city : pending_of(lists)) nodes.push_back(city);
    std::sort(nodes.begin(), nodes.end());
    for (int k = 0; k < n; ++k) ASSERT_EQ(nodes[k], k);
}

TEST(Invariants, HoldAfterEveryStepOnRandomInstances) {
    std::mt19937 rng(20261208);
    for (int trial = 0; trial < 300; ++trial) {
        const auto family = static_cast<test_support::Family>(trial % 5);
        const int count = 1 + trial % 60;
        auto ws = with_distances(test_support::random_instance(family, count, rng));
        RouteLists& lists = ws->lists;
        const int n = count + 1;
        if (!seed_route(ws->distance, n, lists)) continue;
        expect_partition(n, lists);
        insert_all(ws->distance, lists, ws->insertion);
        expect_partition(n, lists);
        uncross_route(ws->points, lists.route, lists.route_len, ws->sweep);
        expect_partition(n, lists);
        reinsert_interior(ws->distance, lists, ws->insertion);
        expect_partition(n, lists);
    }
}

}  // namespace
