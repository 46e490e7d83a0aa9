// Shared helpers for the solver tests: solving instances and random families.
#ifndef CORVELANTH_TEST_SUPPORT_H
#define CORVELANTH_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <cctype>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "oracle_solver.h"
#include "route_solver.h"
#include "workspace.h"

namespace test_support {

using corvelanth::Outcome;
using corvelanth::Point;
using corvelanth::Workspace;

// A problem instance as the tests build it.
struct Instance {
    std::vector<Point> cities;
    Point robot{0.0, 0.0};
};

// A zero-filled workspace on the heap: it is too large for a test's stack.
inline std::unique_ptr<Workspace> new_workspace() {
    return std::unique_ptr<Workspace>(new Workspace());
}

// Everything one solve leaves that a caller can see.
struct Run {
    Outcome outcome;
    std::vector<int> route;
    std::vector<int> unplaced;  // the pending list's slots in order
};

// Solves `instance` with the given solver on `ws` and collects what it left.
template <typename Solve>
Run run(Solve solve, Workspace& ws, const Instance& instance) {
    Run out;
    out.outcome = solve(ws, instance.cities.data(), static_cast<int>(instance.cities.size()), instance.robot);
    out.route.assign(ws.lists.route, ws.lists.route + out.outcome.route_len);
    if (!out.outcome.seed_failed) {
        out.unplaced.assign(ws.lists.pending, ws.lists.pending + ws.lists.pending_count);
    }
    return out;
}

// The fast solver's run on a fresh workspace.
inline Run solve(const Instance& instance) {
    auto ws = new_workspace();
    return run(corvelanth::solve_route, *ws, instance);
}

// The oracle's run on a fresh workspace, without the sweeps when `uncross` is false.
inline Run solve_plainly(const Instance& instance, bool uncross = true) {
    auto ws = new_workspace();
    return run(
        [uncross](Workspace& w, const Point* c, int n, Point r) { return oracle::solve_route(w, c, n, r, uncross); },
        *ws, instance);
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
        case Family::UniformFloat:
            return "uniform float";
        case Family::SmallGrid:
            return "small integer grid";
        case Family::Duplicates:
            return "duplicates";
        case Family::CollinearRows:
            return "collinear rows";
        case Family::NearCeiling:
            return "near the ceiling";
        case Family::IntegerGrid:
            return "integer grid";
        case Family::Clustered:
            return "clustered";
        case Family::Extremes:
            return "extremes";
        case Family::FarApart:
            return "far apart";
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
        case 0:
            return std::numeric_limits<double>::quiet_NaN();
        case 1:
            return -std::numeric_limits<double>::quiet_NaN();
        case 2:
            return std::numeric_limits<double>::infinity();
        case 3:
            return -std::numeric_limits<double>::infinity();
        case 4:
            return std::numeric_limits<double>::max();
        case 5:
            return -1e300;
        case 6:
            return -0.0;
        case 7:
            return std::numeric_limits<double>::denorm_min();
        case 8:
            return -0.00005;
        default:
            return 0.00015;
    }
}

inline Instance random_instance(Family family, int count, std::mt19937& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const Point centres[4] = {{100, 100}, {900, 200}, {300, 800}, {750, 700}};
    auto point = [&]() -> Point {
        switch (family) {
            case Family::UniformFloat:
                return {unit(rng) * 1000.0 - 500.0, unit(rng) * 1000.0};
            case Family::SmallGrid:
                return {double(pick(0, 6)), double(pick(0, 6))};
            case Family::Duplicates:
                return {double(pick(0, 3)) * 10.0, double(pick(0, 3)) * 10.0};
            case Family::CollinearRows:
                return {double(pick(0, 40)), double(pick(0, 3)) * 7.0};
            case Family::NearCeiling:
                return {double(pick(-2, 2)) * 14999.5, double(pick(-1, 1)) * 9000.0};
            case Family::IntegerGrid:
                return {double(pick(0, 99)), double(pick(0, 99))};
            case Family::Clustered: {
                const Point& centre = centres[pick(0, 3)];
                std::normal_distribution<double> spread(0.0, 40.0);
                return {centre.x + spread(rng), centre.y + spread(rng)};
            }
            case Family::FarApart:
                return {unit(rng) * 90000.0 - 45000.0, unit(rng) * 90000.0 - 45000.0};
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
