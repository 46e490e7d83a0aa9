// The solver against the straightforward oracle on thousands of seeded
// instances: same outcome, route, unplaced cities and report bytes.
#include <cstdlib>
#include <string>
#include <vector>

#include "oracle_solver.h"
#include "run_report.h"
#include "simd.h"
#include "test_support.h"

namespace {

using test_support::Family;
using test_support::Instance;
using test_support::Run;

// The report of the last solve in `ws`, written by `write`.
template <typename Write>
std::string report_of(Write write, const corvelanth::Workspace& ws, const Instance& instance, const Run& run) {
    if (run.outcome.seed_failed) return "";
    static char text[corvelanth::REPORT_MAX_CHARS + 1];
    const char* end = write(ws, static_cast<int>(instance.cities.size()), run.outcome.route_len, text);
    return std::string(static_cast<const char*>(text), static_cast<const char*>(end));
}

// Solves `trials` instances of the family with both solvers, each on a
// workspace it keeps from one instance to the next, and compares them.
void expect_same_as_oracle(Family family, int count, int trials, unsigned seed) {
    static auto fast = test_support::new_workspace();
    static auto plain = test_support::new_workspace();
    std::mt19937 rng(seed);
    for (int t = 0; t < trials; ++t) {
        const auto instance = test_support::random_instance(family, count, rng);
        const Run expected = test_support::run([](corvelanth::Workspace& w, const corvelanth::Point* c, int n,
                                                  corvelanth::Point r) { return oracle::solve_route(w, c, n, r); },
                                               *plain, instance);
        const Run actual = test_support::run(corvelanth::solve_route, *fast, instance);
        const std::string where = std::string(test_support::family_name(family)) + ", " + std::to_string(count) +
                                  " cities, seed " + std::to_string(seed) + ", trial " + std::to_string(t);
        ASSERT_EQ(actual.outcome.seed_failed, expected.outcome.seed_failed) << where;
        ASSERT_EQ(actual.outcome.route_len, expected.outcome.route_len) << where;
        ASSERT_EQ(actual.outcome.no_position_count, expected.outcome.no_position_count) << where;
        ASSERT_EQ(actual.route, expected.route) << where;
        ASSERT_EQ(actual.unplaced, expected.unplaced) << where;
        ASSERT_EQ(report_of(corvelanth::write_run_report, *fast, instance, actual),
                  report_of(oracle::write_run_report, *plain, instance, expected))
            << where;
    }
}

class MatchesOracle : public testing::TestWithParam<Family> {};

TEST_P(MatchesOracle, EveryCountUpToForty) {
    for (int count = 0; count <= 40; ++count) expect_same_as_oracle(GetParam(), count, 20, 500 + count);
}

TEST_P(MatchesOracle, LargerCountsUpToTheLimit) {
    for (int count : {41, 57, 64, 99, 100, 127, 150, 173, 199, 200}) {
        expect_same_as_oracle(GetParam(), count, 6, 90000 + count);
    }
}

TEST_P(MatchesOracle, ManySmallInstances) {
    for (int count = 0; count <= 24; ++count) expect_same_as_oracle(GetParam(), count, 60, 1000 + count);
    for (int count : {37, 64, 101}) expect_same_as_oracle(GetParam(), count, 12, 7 * count);
    expect_same_as_oracle(GetParam(), 200, 3, 42);
}

// Both planners on routes with a finish, a round trip or given costs (plain
// and with many equal ones), on workspaces kept from one instance to the next.
void expect_same_plans_as_oracle(Family family, int count, int trials, unsigned seed) {
    static auto fast = test_support::new_workspace();
    static auto plain = test_support::new_workspace();
    std::mt19937 rng(seed);
    std::vector<double> costs;
    for (int t = 0; t < trials; ++t) {
        const auto instance = test_support::random_instance(family, count, rng);
        const corvelanth::Point finish{static_cast<double>(rng() % 1000), static_cast<double>(rng() % 1000)};
        for (int mode = 0; mode < 4; ++mode) {
            corvelanth::Problem problem{instance.cities.data(), count, instance.robot};
            if (mode == 0) problem.finish = &finish;
            if (mode == 1) problem.finish = &instance.robot;
            if (mode >= 2) {
                if (mode == 3) problem.finish = &finish;
                const int n = count + (problem.finish ? 2 : 1);
                costs.assign(static_cast<size_t>(n) * n, 0.0);
                for (int a = 0; a < n; ++a) {
                    for (int b = a + 1; b < n; ++b) {
                        costs[a * n + b] = costs[b * n + a] = static_cast<double>(rng() % (mode == 2 ? 5 : 1000));
                    }
                }
                problem.costs = costs.data();
            }
            const corvelanth::Outcome expected = oracle::plan_route(*plain, problem);
            const corvelanth::Outcome actual = corvelanth::plan_route(*fast, problem);
            const std::string where = std::string(test_support::family_name(family)) + ", " + std::to_string(count) +
                                      " cities, seed " + std::to_string(seed) + ", trial " + std::to_string(t) +
                                      ", mode " + std::to_string(mode);
            ASSERT_EQ(actual.route_len, expected.route_len) << where;
            ASSERT_EQ(std::vector<int>(fast->lists.route, fast->lists.route + actual.route_len),
                      std::vector<int>(plain->lists.route, plain->lists.route + expected.route_len))
                << where;
        }
    }
}

TEST_P(MatchesOracle, RoutesToAFinishOrOnGivenCosts) {
    for (int count = 0; count <= 12; ++count) expect_same_plans_as_oracle(GetParam(), count, 8, 3000 + count);
    for (int count : {33, 100, 200}) expect_same_plans_as_oracle(GetParam(), count, 2, 4000 + count);
}

// The tests above ran on the path CORVELANTH_SIMD names, when this processor has it.
TEST(SimdPath, IsTheOneForced) {
    const corvelanth::SimdPath widest = corvelanth::widest_simd_path();
    const char* forced = std::getenv("CORVELANTH_SIMD");
    const corvelanth::SimdPath wanted = corvelanth::forced_simd_path(forced, corvelanth::SimdPath::AVX512);
    if (forced == nullptr || static_cast<int>(wanted) > static_cast<int>(widest)) {
        EXPECT_EQ(corvelanth::simd_path(), widest);
    } else {
        EXPECT_STREQ(corvelanth::simd_path_name(corvelanth::simd_path()), forced);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, MatchesOracle,
                         testing::Values(Family::UniformFloat, Family::SmallGrid, Family::Duplicates,
                                         Family::CollinearRows, Family::NearCeiling, Family::IntegerGrid,
                                         Family::Clustered, Family::Extremes, Family::FarApart),
                         test_support::family_test_name);

}  // namespace
