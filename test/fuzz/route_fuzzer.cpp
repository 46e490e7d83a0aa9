// libFuzzer target for the route solver: turns bytes into an instance of 0 to
// 200 cities, solves it with solve_route() on a workspace, improves the route
// with improve_route() at a small budget, and aborts with a description of the
// instance when a guarantee is broken.
//
// Input layout, read front to back; a value cut off by the end of the input
// reads as zero bytes, and no city starts after the end.
//
//   byte 0        city count, taken modulo 201
//   point         the robot
//   city...       up to count cities, each:
//     tag < 0x20            a duplicate of an earlier city (next byte picks it)
//     tag < 0x40            a point on the line through the two previous cities
//                           (next byte: signed step in quarters)
//     tag < 0x60            the previous city's y with a new x (a horizontal run)
//     otherwise             a point
//   byte          the improvement's budget: kicks, modulo 49 (0 to 48)
//   point         x coordinate, then y coordinate
//   coordinate    tag byte; tag & 7 selects:
//     0  a small grid value, (tag >> 3) - 8: ties and duplicates
//     1  a signed byte
//     2  a signed 16-bit value: around and past the 30000 ceiling
//     3  a special value: zeros, the ceiling and its neighbours, NaN,
//        infinities, the largest and smallest doubles
//     4  eight raw bytes of a double
//     5  a ceiling-sized base (15000, 21213.2..., 30000, signed by tag) plus a
//        signed byte in 64ths
//     6  four raw bytes of a float
//     7  a signed byte times a power of ten from 1e-16 to 1e15
//
// After every solve it checks:
//  - the seed fails exactly when no city is closer than the ceiling to the
//    robot, and then no route is returned;
//  - route entry 0 is the robot node, every other entry is a city, no node
//    appears twice, and the route has at most n entries;
//  - a city missing from the route was reported: "No position." was
//    counted at least once, and the missing cities are the pending ones;
//  - a city with a non-finite coordinate is never on the route;
//  - when every coordinate lies within 5000 of the origin no city is left
//    out and "No position." is not counted (beyond the one-city case);
//  - no table slot past the node count is written, and stale contents of
//    the workspace do not change the outcome: the instance is solved twice
//    over different leftovers and must give the same outcome and route;
//  - the outcome equals that of the straightforward oracle;
//  - improve_route() on the route gives a permutation of the same nodes from
//    the same start, returns its length, is never longer than its input, and
//    gives the same route and length from the oracle's distance table: run on
//    each instruction-set path (script/check forces each), that is the same
//    route on every path.
// Out-of-bounds accesses to the tables themselves are left to the sanitizers.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "oracle_solver.h"
#include "route_improvement.h"
#include "route_solver.h"
#include "simd.h"
#include "workspace.h"

namespace {

using corvelanth::COST_CEILING;
using corvelanth::MAX_CITIES;
using corvelanth::Point;
using corvelanth::TABLE_SLOTS;
using corvelanth::Workspace;

// A decoded instance.
struct Instance {
    std::vector<Point> cities;
    Point robot{0.0, 0.0};
    int kicks = 0;  // the improvement's budget
};

// Reads the input front to back; zero bytes once it is used up.
class ByteSource {
  public:
    ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    // The next input byte, or 0 past the end.
    uint8_t next() { return pos_ < size_ ? data_[pos_++] : 0; }

    // Copies the next `count` bytes into `out`.
    void fill(void* out, size_t count) {
        auto* bytes = static_cast<uint8_t*>(out);
        for (size_t i = 0; i < count; ++i) bytes[i] = next();
    }

    // The next byte as a signed value.
    int next_signed() { return static_cast<int8_t>(next()); }

    // True once every input byte has been read.
    bool used_up() const { return pos_ >= size_; }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// Values where the solver's comparisons and arithmetic have edges.
double special_value(int which) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    static const double values[32] = {
        0.0,
        -0.0,
        1.0,
        -1.0,
        0.5,
        COST_CEILING,
        -COST_CEILING,
        std::nextafter(COST_CEILING, 0.0),
        std::nextafter(COST_CEILING, 1e9),
        COST_CEILING / 2,
        -COST_CEILING / 2,
        std::nextafter(COST_CEILING / 2, 0.0),
        COST_CEILING / std::sqrt(2.0),
        1e-300,
        -1e-300,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(),
        1e300,
        -1e300,
        1e154,
        1.3407807929942596e154,
        inf,
        -inf,
        nan,
        -nan,
        9007199254740992.0,
        9007199254740993.0,
        1e16,
        0.1,
        1.0 / 3.0,
    };
    return values[which & 31];
}

// Decodes one coordinate.
double read_coordinate(ByteSource& in) {
    const int tag = in.next();
    switch (tag & 7) {
        case 0:
            return (tag >> 3) - 8;
        case 1:
            return in.next_signed();
        case 2: {
            const int hi = in.next_signed();
            return hi * 256 + in.next();
        }
        case 3:
            return special_value(tag >> 3);
        case 4: {
            double value;
            in.fill(&value, sizeof value);
            return value;
        }
        case 5: {
            static const double bases[4] = {COST_CEILING / 2, COST_CEILING / std::sqrt(2.0), COST_CEILING,
                                            COST_CEILING - 1};
            const double base = bases[(tag >> 3) & 3];
            return ((tag & 0x80) ? -base : base) + in.next_signed() / 64.0;
        }
        case 6: {
            float value;
            in.fill(&value, sizeof value);
            return value;
        }
        default:
            return in.next_signed() * std::pow(10.0, (tag >> 3) - 16);
    }
}

// Decodes one point.
Point read_point(ByteSource& in) {
    const double x = read_coordinate(in);
    return {x, read_coordinate(in)};
}

// Decodes the whole instance.
Instance read_instance(const uint8_t* data, size_t size) {
    ByteSource in(data, size);
    Instance instance;
    const int count = in.next() % (MAX_CITIES + 1);
    instance.robot = read_point(in);
    std::vector<Point>& cities = instance.cities;
    for (int i = 0; i < count && !in.used_up(); ++i) {
        const int tag = in.next();
        if (tag < 0x20 && i > 0) {
            cities.push_back(cities[in.next() % i]);
        } else if (tag < 0x40 && i > 1) {
            const Point a = cities[i - 2];
            const Point b = cities[i - 1];
            const double step = in.next_signed() / 4.0;
            cities.push_back({a.x + (b.x - a.x) * step, a.y + (b.y - a.y) * step});
        } else if (tag < 0x60 && i > 0) {
            cities.push_back({read_coordinate(in), cities[i - 1].y});
        } else {
            cities.push_back(read_point(in));
        }
    }
    instance.kicks = in.next() % 49;
    return instance;
}

const Instance* current_instance = nullptr;

// Reports a broken guarantee with the instance that broke it, then aborts.
[[noreturn]] void fail(const char* format, ...) {
    std::fputs("\n*** route fuzzer: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (current_instance != nullptr) {
        const auto& inst = *current_instance;
        std::fprintf(stderr, "\n*** instance: %zu cities, robot (%.17g, %.17g), %d kicks\n", inst.cities.size(),
                     inst.robot.x, inst.robot.y, inst.kicks);
        for (size_t i = 0; i < inst.cities.size(); ++i) {
            std::fprintf(stderr, "***   c%zu (%.17g, %.17g)\n", i, inst.cities[i].x, inst.cities[i].y);
        }
    }
    std::abort();
}

#define CHECK(condition, ...)                \
    do {                                     \
        if (!(condition)) fail(__VA_ARGS__); \
    } while (0)

// Leftover contents planted in the workspace before a solve; the two variants
// must give the same outcome, and the slots past the node count must keep them.
struct Leftovers {
    int list_entry;
    double distance;
    double coordinate;
};

const Leftovers FIRST_LEFTOVERS = {TABLE_SLOTS - 1, -1.0, std::numeric_limits<double>::quiet_NaN()};
const Leftovers SECOND_LEFTOVERS = {0, 0.0, 0.0};

// Fills every workspace slot the solve may not depend on with the given leftovers.
void plant_leftovers(Workspace& ws, int n, const Leftovers& left) {
    for (int k = 0; k < TABLE_SLOTS; ++k) {
        ws.lists.route[k] = left.list_entry;
        ws.lists.pending[k] = left.list_entry;
        ws.points[k] = {left.coordinate, left.coordinate};
    }
    ws.lists.route_len = ws.lists.pending_count = left.list_entry;
    for (int r = 0; r < TABLE_SLOTS; ++r) {
        for (int c = 0; c < TABLE_SLOTS; ++c) {
            if (r >= n || c >= n || r == c) ws.distance[r][c] = left.distance;
        }
    }
    std::memset(&ws.insertion, left.list_entry & 0xff, sizeof ws.insertion);
    std::memset(&ws.sweep, left.list_entry & 0xff, sizeof ws.sweep);
    std::memset(&ws.distance_scratch, left.list_entry & 0xff, sizeof ws.distance_scratch);
}

// Compares doubles by their bits, so NaN leftovers compare equal to themselves.
bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Checks that no slot past the node count was written.
void check_leftovers(const Workspace& ws, int n, const Leftovers& left) {
    for (int k = n; k < TABLE_SLOTS; ++k) {
        CHECK(ws.lists.route[k] == left.list_entry, "route slot %d past the %d nodes was written", k, n);
        CHECK(ws.lists.pending[k] == left.list_entry, "pending slot %d past the %d nodes was written", k, n);
        CHECK(same_bits(ws.points[k].x, left.coordinate) && same_bits(ws.points[k].y, left.coordinate),
              "point slot %d past the %d nodes was written", k, n);
    }
    for (int r = 0; r < TABLE_SLOTS; ++r) {
        for (int c = 0; c < TABLE_SLOTS; ++c) {
            if (r >= n || c >= n) {
                CHECK(same_bits(ws.distance[r][c], left.distance), "distance [%d][%d] past the %d nodes was written", r,
                      c, n);
            }
        }
    }
}

// One solve as a caller sees it.
struct Outcome {
    corvelanth::Outcome outcome;
    std::vector<int> route;
    std::vector<int> unplaced;
};

// Solves the instance on `ws` over the given leftovers with `solve`.
template <typename Solve>
Outcome solve_over(Solve solve, Workspace& ws, const Instance& instance, const Leftovers& left) {
    const int count = static_cast<int>(instance.cities.size());
    plant_leftovers(ws, count + 1, left);
    Outcome out;
    out.outcome = solve(ws, instance.cities.data(), count, instance.robot);
    const int len = out.outcome.route_len;
    CHECK(len >= 0 && len <= count + 1, "a route of %d entries for %d nodes", len, count + 1);
    out.route.assign(ws.lists.route, ws.lists.route + len);
    if (!out.outcome.seed_failed) {
        CHECK(ws.lists.pending_count == count + 1 - len, "%d pending beside a route of %d for %d nodes",
              ws.lists.pending_count, len, count + 1);
        out.unplaced.assign(ws.lists.pending, ws.lists.pending + ws.lists.pending_count);
    }
    check_leftovers(ws, count + 1, left);
    return out;
}

// Same arithmetic as the distance table: the robot's distance to city c.
double robot_distance(const Instance& instance, size_t c) {
    const double dx = instance.cities[c].x - instance.robot.x;
    const double dy = instance.cities[c].y - instance.robot.y;
    return std::sqrt(dx * dx + dy * dy);
}

// True when the point has no NaN or infinite coordinate.
bool finite(const Point& p) {
    return std::isfinite(p.x) && std::isfinite(p.y);
}

// Checks one outcome against everything that follows from the instance alone.
void check_outcome(const Instance& instance, const Outcome& out) {
    const int count = static_cast<int>(instance.cities.size());
    const int n = count + 1;

    bool reachable = false;
    for (int c = 0; c < count; ++c) reachable = reachable || robot_distance(instance, c) < COST_CEILING;
    const int len = out.outcome.route_len;
    if (!reachable) {
        CHECK(out.outcome.seed_failed, "no city is below the ceiling from the robot, yet the seed succeeded");
        CHECK(len == 0 && out.outcome.no_position_count == 0, "a failed seed returned %d entries and %d counts", len,
              out.outcome.no_position_count);
        return;
    }
    CHECK(!out.outcome.seed_failed, "a city is reachable, yet the seed failed");
    CHECK(len >= 2 && len <= n, "a city is reachable, yet the solve returned %d entries for %d nodes", len, n);
    CHECK(out.route[0] == count, "route entry 0 is %d, not the robot node %d", out.route[0], count);

    std::vector<bool> seen(n, false);
    seen[count] = true;
    for (int p = 1; p < len; ++p) {
        const int node = out.route[p];
        CHECK(node >= 0 && node < count, "route entry %d is %d, not a city", p, node);
        CHECK(!seen[node], "node %d appears twice on the route", node);
        seen[node] = true;
        CHECK(finite(instance.cities[node]), "city %d has a non-finite coordinate but is on the route", node);
    }

    for (int city : out.unplaced) {
        CHECK(city >= 0 && city < count && !seen[city], "pending entry %d is on the route or not a city", city);
        seen[city] = true;
    }
    const int reports = out.outcome.no_position_count;
    const int missing = n - len;
    CHECK(missing == 0 || reports > 0, "%d cities are missing but \"No position.\" was not counted", missing);
    if (count == 1) CHECK(reports == 1, "one city should count \"No position.\" once, not %d times", reports);

    // Within 5000 of the origin every distance is under half the ceiling, so
    // every insertion costs less than the ceiling and nothing can be left out.
    bool compact = std::abs(instance.robot.x) <= 5000 && std::abs(instance.robot.y) <= 5000;
    for (const Point& p : instance.cities) compact = compact && std::abs(p.x) <= 5000 && std::abs(p.y) <= 5000;
    if (compact) {
        CHECK(missing == 0, "a compact instance left %d cities out", missing);
        CHECK(count == 1 || reports == 0, "a compact instance counted \"No position.\" %d times", reports);
    }
}

// Describes the first difference between two outcomes, or returns empty.
std::string difference(const Outcome& a, const Outcome& b) {
    if (a.outcome.seed_failed != b.outcome.seed_failed) return "seed results";
    if (a.outcome.route_len != b.outcome.route_len) {
        return "route lengths " + std::to_string(a.outcome.route_len) + " and " + std::to_string(b.outcome.route_len);
    }
    if (a.outcome.no_position_count != b.outcome.no_position_count) {
        return "\"No position.\" counts " + std::to_string(a.outcome.no_position_count) + " and " +
               std::to_string(b.outcome.no_position_count);
    }
    for (size_t p = 0; p < a.route.size(); ++p) {
        if (a.route[p] != b.route[p]) {
            return "route entry " + std::to_string(p) + ": " + std::to_string(a.route[p]) + " and " +
                   std::to_string(b.route[p]);
        }
    }
    if (a.unplaced != b.unplaced) return "the pending lists";
    return "";
}

// The workspaces, made once: they are too large for the stack.
Workspace& fast_workspace() {
    static Workspace* ws = new Workspace();
    return *ws;
}
Workspace& oracle_workspace() {
    static Workspace* ws = new Workspace();
    return *ws;
}

// A route after improve_route(), with the length it returned.
struct Improved {
    std::vector<int> route;
    double travel;
};

// Improves a copy of `route` over `ws`'s distance table, with `ws`'s scratch.
Improved improve_on(Workspace& ws, const std::vector<int>& route, int kicks) {
    Improved out{route, 0.0};
    out.travel = corvelanth::improve_route(ws.distance, out.route.data(), static_cast<int>(out.route.size()), {kicks},
                                           ws.improvement, ws.points);
    return out;
}

// Checks the improvement of the solver's route against its guarantees and
// against the same improvement over the oracle's distances.
void check_improvement(const Instance& instance, const Outcome& fast, const Outcome& oracle) {
    const std::vector<int>& route = fast.route;
    const int len = static_cast<int>(route.size());
    Workspace& ws = fast_workspace();
    const Improved improved = improve_on(ws, route, instance.kicks);
    CHECK(static_cast<int>(improved.route.size()) == len && improved.route[0] == route[0],
          "the improved route does not start from the robot node %d", route[0]);
    std::vector<int> nodes = route;
    std::vector<int> improved_nodes = improved.route;
    std::sort(nodes.begin(), nodes.end());
    std::sort(improved_nodes.begin(), improved_nodes.end());
    CHECK(nodes == improved_nodes, "the improved route is not a permutation of the route's %d nodes", len);
    const double before = corvelanth::route_travel(ws.distance, route.data(), len);
    const double after = corvelanth::route_travel(ws.distance, improved.route.data(), len);
    CHECK(same_bits(after, improved.travel), "improve_route returned %.17g for a route of length %.17g",
          improved.travel, after);
    CHECK(after <= before, "the improved route is longer than its input: %.17g > %.17g", after, before);

    const Improved reference = improve_on(oracle_workspace(), oracle.route, instance.kicks);
    CHECK(reference.route == improved.route && same_bits(reference.travel, improved.travel),
          "the improvement over the oracle's distances differs: length %.17g, not %.17g", reference.travel,
          improved.travel);
}

}  // namespace

// libFuzzer start-up: names the instruction-set path this run takes
// (CORVELANTH_SIMD forces a narrower one), so script/check can see each path ran.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::fprintf(stderr, "route fuzzer: simd path %s\n", corvelanth::simd_path_name(corvelanth::simd_path()));
    return 0;
}

// libFuzzer entry point: one instance per input.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Instance instance = read_instance(data, size);
    current_instance = &instance;

    const Outcome first = solve_over(corvelanth::solve_route, fast_workspace(), instance, FIRST_LEFTOVERS);
    check_outcome(instance, first);

    const Outcome second = solve_over(corvelanth::solve_route, fast_workspace(), instance, SECOND_LEFTOVERS);
    const std::string stale = difference(first, second);
    CHECK(stale.empty(), "the outcome depends on what earlier solves left in the workspace: %s", stale.c_str());

    const Outcome expected = solve_over([](Workspace& ws, const Point* cities, int count,
                                           Point robot) { return oracle::solve_route(ws, cities, count, robot); },
                                        oracle_workspace(), instance, FIRST_LEFTOVERS);
    const std::string diverged = difference(first, expected);
    CHECK(diverged.empty(), "the solver and the oracle differ: %s", diverged.c_str());

    if (!first.outcome.seed_failed) check_improvement(instance, first, expected);

    current_instance = nullptr;
    return 0;
}
