// The solver against the plain reference on seeded random instances.

#include "test_support.h"

namespace {

using test_support::Family;

void expect_same_as_reference(Family family, int count, int trials, unsigned seed) {
    std::mt19937 rng(seed);
    for (int t = 0; t < trials; ++t) {
        const auto instance = test_support::random_instance(family, count, rng);
        const auto expected = reference::solve(instance);
        const auto actual = test_support::solve(instance);
        ASSERT_EQ(actual.result, expected.result) << test_support::family_name(family) << ", " << count << " cities, trial " << t;
        ASSERT_EQ(actual.route, expected.route) << test_support::family_name(family) << ", " << count << " cities, trial " << t;
        ASSERT_EQ(actual.diagnostics, expected.diagnostics) << test_support::family_name(family) << ", trial " << t;
    }
}

class ReferenceMatch : public testing::TestWithParam<Family> {};

TEST_P(ReferenceMatch, SmallInstances) {
    for (int count = 0; count <= 24; ++count) expect_same_as_reference(GetParam(), count, 60, 1000 + count);
}

TEST_P(ReferenceMatch, MediumInstances) {
    for (int count : {37, 64, 101}) expect_same_as_reference(GetParam(), count, 12, 7 * count);
}

TEST_P(ReferenceMatch, FullSizeInstances) { expect_same_as_reference(GetParam(), 200, 3, 42); }

INSTANTIATE_TEST_SUITE_P(Families, ReferenceMatch,
                         testing::Values(Family::UniformFloat, Family::SmallGrid, Family::Duplicates,
                                         Family::CollinearRows, Family::NearCeiling),
                         test_support::family_test_name);

}  // namespace
