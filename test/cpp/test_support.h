// Shared helpers for the solver tests: loading instances and random families.
#ifndef CORVELANTH_TEST_SUPPORT_H
#define CORVELANTH_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <limits>
#include <cctype>
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
enum class Family {
    UniformFloat,
    SmallGrid,
    Duplicates,
    CollinearRows,
    NearCeiling,
    IntegerGrid,  // 0..99 on both axes: the console's instances, full of equal costs
    Clustered,
    Extremes,  // ordinary cities mixed with NaN, infinities, huge and tiny values
    FarApart,  // distances around the ceiling: cities left unplaced, some placed late
};

inline const char* family_name(Family f) {
    switch (f) {
        case Family::UniformFloat: return "uniform float";
        case Family::SmallGrid: return "small integer grid";
        case Family::Duplicates: return "duplicates";
        case Family::CollinearRows: return "collinear rows";
        case Family::NearCeiling: return "near the ceiling";
        case Family::IntegerGrid: return "integer grid";
        case Family::Clustered: return "clustered";
        case Family::Extremes: return "extremes";
        case Family::FarApart: return "far apart";
    }
    return "?";
}

// A family's name as a parameterised test's name: letters, digits and '_'.
inline std::string family_test_name(const testing::TestParamInfo<Family>& param) {
    std::string name = family_name(param.param);
    for (char& ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

// Values that stress formatting and comparisons; a city with a non-finite
// coordinate is never placed.
inline double extreme_value(int which) {
    switch (which) {
        case 0: return std::numeric_limits<double>::quiet_NaN();
        case 1: return -std::numeric_limits<double>::quiet_NaN();
        case 2: return std::numeric_limits<double>::infinity();
        case 3: return -std::numeric_limits<double>::infinity();
        case 4: return std::numeric_limits<double>::max();
        case 5: return -1e300;
        case 6: return -0.0;
        case 7: return std::numeric_limits<double>::denorm_min();
        case 8: return -0.00005;
        default: return 0.00015;
    }
}

inline Instance random_instance(Family family, int count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const Point centres[4] = {{100, 100}, {900, 200}, {300, 800}, {750, 700}};
    auto point = [&]() -> Point {
        switch (family) {
            case Family::UniformFloat: return {unit(rng) * 1000.0 - 500.0, unit(rng) * 1000.0};
            case Family::SmallGrid: return {double(pick(0, 6)), double(pick(0, 6))};
            case Family::Duplicates: return {double(pick(0, 3)) * 10.0, double(pick(0, 3)) * 10.0};
            case Family::CollinearRows: return {double(pick(0, 40)), double(pick(0, 3)) * 7.0};
            case Family::NearCeiling: return {double(pick(-2, 2)) * 14999.5, double(pick(-1, 1)) * 9000.0};
            case Family::IntegerGrid: return {double(pick(0, 99)), double(pick(0, 99))};
            case Family::Clustered: {
                const Point& centre = centres[pick(0, 3)];
                std::normal_distribution<double> spread(0.0, 40.0);
                return {centre.x + spread(rng), centre.y + spread(rng)};
            }
            case Family::FarApart: return {unit(rng) * 90000.0 - 45000.0, unit(rng) * 90000.0 - 45000.0};
            case Family::Extremes:
                if (pick(0, 5) > 0) return {double(pick(-50, 50)) / 8.0, unit(rng) * 10.0};
                return {extreme_value(pick(0, 9)), pick(0, 1) ? extreme_value(pick(0, 9)) : 1.0};
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
