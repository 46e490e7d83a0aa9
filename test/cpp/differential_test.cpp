// The solver against the straightforward baseline on thousands of seeded
// instances: same result, route, unplaced cities, diagnostics and report bytes.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "baseline_solver.h"
#include "run_report.h"
#include "test_support.h"

namespace {

using test_support::Family;

// Everything one solve leaves behind that a caller can see.
struct Run {
    int result = 0;
    std::vector<int> route;
    std::vector<int> unplaced;  // the pending list's slots in order
    std::string diagnostics;
    std::string report;
};

// Solves the loaded instance with one of the two solvers and captures its output.
Run run(const reference::Instance& instance, int (*solve)(int), void (*report)(std::FILE*, int, int)) {
    const int count = static_cast<int>(instance.cities.size());
    test_support::load(instance);
    Run out;
    testing::internal::CaptureStderr();
    out.result = solve(count);
    out.diagnostics = testing::internal::GetCapturedStderr();
    if (out.result > 0) {
        out.route.assign(corvelanth::route_list, corvelanth::route_list + out.result);
        out.unplaced.assign(corvelanth::pending_list, corvelanth::pending_list + (count + 1 - out.result));
    }
    char* text = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    report(stream, count, out.result);
    std::fclose(stream);
    out.report.assign(text, size);
    std::free(text);
    return out;
}

void expect_same_as_baseline(Family family, int count, int trials, unsigned seed) {
    std::mt19937 rng(seed);
    for (int t = 0; t < trials; ++t) {
        const auto instance = test_support::random_instance(family, count, rng);
        const Run expected = run(instance, baseline::solve_route, baseline::print_run_report);
        const Run actual = run(instance, corvelanth::solve_route, corvelanth::write_run_report);
        const std::string where = std::string(test_support::family_name(family)) + ", " +
                                  std::to_string(count) + " cities, seed " + std::to_string(seed) +
                                  ", trial " + std::to_string(t);
        ASSERT_EQ(actual.result, expected.result) << where;
        ASSERT_EQ(actual.route, expected.route) << where;
        ASSERT_EQ(actual.unplaced, expected.unplaced) << where;
        ASSERT_EQ(actual.diagnostics, expected.diagnostics) << where;
        ASSERT_EQ(actual.report, expected.report) << where;
    }
}

class MatchesBaseline : public testing::TestWithParam<Family> {};

TEST_P(MatchesBaseline, EveryCountUpToForty) {
    for (int count = 0; count <= 40; ++count) expect_same_as_baseline(GetParam(), count, 20, 500 + count);
}

TEST_P(MatchesBaseline, LargerCountsUpToTheLimit) {
    for (int count : {41, 57, 64, 99, 100, 127, 150, 173, 199, 200}) {
        expect_same_as_baseline(GetParam(), count, 6, 90000 + count);
    }
}

INSTANTIATE_TEST_SUITE_P(Families, MatchesBaseline,
                         testing::Values(Family::UniformFloat, Family::SmallGrid, Family::Duplicates,
                                         Family::CollinearRows, Family::NearCeiling, Family::IntegerGrid,
                                         Family::Clustered, Family::Extremes, Family::FarApart),
                         test_support::family_test_name);

}  // namespace
