// Shared helpers for the solver tests: loading instances and random families.
#ifndef CORVELANTH_TEST_SUPPORT_H
#define CORVELANTH_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reference_solver.h"
#include "route_solver.h"

namespace test_support {

using corvelanth::Point;
using reference::Instance;

// Writes the instance into the solver's tables.
inline void load(const Instance& instance) {
    for (size_t i = 0; i < instance.cities.size(); ++i) corvelanth::point_table[i] = instance.cities[i];
    corvelanth::robot_position = instance.robot;
}

// The solver's outcome in the reference's terms, with standard error captured.
inline reference::Outcome solve(const Instance& instance) {
    load(instance);
    testing::internal::CaptureStderr();
    reference::Outcome out;
    out.result = corvelanth::solve_route(static_cast<int>(instance.cities.size()));
    out.diagnostics = testing::internal::GetCapturedStderr();
    if (out.result > 0) out.route.assign(corvelanth::route_list, corvelanth::route_list + out.result);
    return out;
}

inline Instance make(std::vector<Point> cities, Point robot) {
    Instance instance;
    instance.cities = std::move(cities);
    instance.robot = robot;
    return instance;
}

// Kinds of random instance, each stressing a different source of ties or failure.
enum class Family { UniformFloat, SmallGrid, Duplicates, CollinearRows, NearCeiling };

inline const char* family_name(Family f) {
    switch (f) {
        case Family::UniformFloat: return "uniform float";
        case Family::SmallGrid: return "small integer grid";
        case Family::Duplicates: return "duplicates";
        case Family::CollinearRows: return "collinear rows";
        case Family::NearCeiling: return "near the ceiling";
    }
    return "?";
}

inline Instance random_instance(Family family, int count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto point = [&]() -> Point {
        switch (family) {
            case Family::UniformFloat: return {unit(rng) * 1000.0 - 500.0, unit(rng) * 1000.0};
            case Family::SmallGrid: return {double(pick(0, 6)), double(pick(0, 6))};
            case Family::Duplicates: return {double(pick(0, 3)) * 10.0, double(pick(0, 3)) * 10.0};
            case Family::CollinearRows: return {double(pick(0, 40)), double(pick(0, 3)) * 7.0};
            case Family::NearCeiling: return {double(pick(-2, 2)) * 14999.5, double(pick(-1, 1)) * 9000.0};
        }
        return {0.0, 0.0};
    };
    Instance instance;
    for (int i = 0; i < count; ++i) instance.cities.push_back(point());
    instance.robot = point();
    return instance;
}

}  // namespace test_support

#endif
