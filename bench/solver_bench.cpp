// Stage by stage timings of the solver and of the straightforward oracle on
// the same instances: distances, construction, each crossing sweep, the
// reinsertion pass, the run report and the whole pipeline.
//
// Benchmarks are named "stage/solver/set"; script/bench pairs the two
// solvers' timings of each stage and set into ratios. A random set is twenty
// instances of one family and size, taken in turn, one per iteration: real
// callers send a different instance every time, and one instance repeated
// would let the branch predictors learn it. Each iteration prepares the
// stage's input untimed and times only the stage itself.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "oracle_solver.h"
#include "route_solver.h"
#include "route_steps.h"
#include "run_report.h"
#include "workspace.h"

namespace {

using corvelanth::DistanceTable;
using corvelanth::Outcome;
using corvelanth::Point;
using corvelanth::RouteLists;
using corvelanth::Workspace;

struct Instance {
    std::string name;
    std::vector<Point> cities;
    Point robot;
};

// Instances timed in turn under one name.
struct InstanceSet {
    std::string name;
    std::vector<Instance> instances;
};

// Instances per random set.
constexpr int SET_SIZE = 20;

// One solver's entry points, so both run through the same benchmark code.
struct Solver {
    const char* name;
    void (*build_distances)(const Point*, int, corvelanth::DistanceScratch&, DistanceTable&);
    bool (*seed_route)(const DistanceTable&, int, RouteLists&);
    bool (*insert_all)(const DistanceTable&, RouteLists&, corvelanth::InsertionScratch&);
    void (*uncross_route)(const Point*, int*, int, corvelanth::SweepScratch&);
    int (*reinsert_interior)(const DistanceTable&, RouteLists&, corvelanth::InsertionScratch&);
    Outcome (*solve_route)(Workspace&, const Point*, int, Point);
    char* (*write_report)(const Workspace&, int, int, char*);
};

Outcome oracle_solve(Workspace& ws, const Point* cities, int count, Point robot) {
    return oracle::solve_route(ws, cities, count, robot);
}

const Solver SOLVERS[] = {
    {"baseline", oracle::build_distances, oracle::seed_route, oracle::insert_all, oracle::uncross_route,
     oracle::reinsert_interior, oracle_solve, oracle::write_run_report},
    {"fast", corvelanth::build_distances, corvelanth::seed_route, corvelanth::insert_all, corvelanth::uncross_route,
     corvelanth::reinsert_interior, corvelanth::solve_route, corvelanth::write_run_report},
};

// The lists before each stage of the pipeline, as `solver` leaves them.
struct Snapshots {
    RouteLists constructed;
    RouteLists swept;
    RouteLists reinserted;
};

// Solves the instance stage by stage on `ws`, keeping the lists between stages.
Snapshots run_stages(const Solver& solver, Workspace& ws, const Instance& instance) {
    const int count = static_cast<int>(instance.cities.size());
    std::copy(instance.cities.begin(), instance.cities.end(), ws.points);
    ws.points[count] = instance.robot;
    solver.build_distances(ws.points, count + 1, ws.distance_scratch, ws.distance);
    Snapshots snapshots;
    RouteLists& lists = ws.lists;
    if (!solver.seed_route(ws.distance, count + 1, lists))
        std::abort();  // every benchmark instance has a reachable city
    solver.insert_all(ws.distance, lists, ws.insertion);
    snapshots.constructed = lists;
    solver.uncross_route(ws.points, lists.route, lists.route_len, ws.sweep);
    snapshots.swept = lists;
    solver.reinsert_interior(ws.distance, lists, ws.insertion);
    snapshots.reinserted = lists;
    return snapshots;
}

// One instance of a set as the stages see it: its lists between stages.
struct Prepared {
    const Instance* instance;
    Snapshots snapshots;
};

// Microseconds on the steady clock, for the manual timings.
double now_us() {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Puts the instance's points into ws.
void load_points(Workspace& ws, const Instance& instance) {
    std::copy(instance.cities.begin(), instance.cities.end(), ws.points);
    ws.points[instance.cities.size()] = instance.robot;
}

// Registers every stage of one solver on one set of instances. `prepare`
// readies ws for the stage untimed; `body` is the stage, timed.
void register_stages(const Solver& solver, const InstanceSet& set) {
    const std::string suffix = std::string("/") + solver.name + "/" + set.name;
    auto add = [&](const char* stage, auto prepare, auto body) {
        benchmark::RegisterBenchmark((stage + suffix).c_str(),
                                     [&solver, set, prepare, body](benchmark::State& state) {
                                         static Workspace* ws = new Workspace();
                                         static char* report = new char[corvelanth::REPORT_MAX_CHARS];
                                         std::vector<Prepared> prepared;
                                         for (const Instance& instance : set.instances) {
                                             prepared.push_back({&instance, run_stages(solver, *ws, instance)});
                                         }
                                         size_t next = 0;
                                         for (auto _ : state) {
                                             const Prepared& p = prepared[next];
                                             next = next + 1 == prepared.size() ? 0 : next + 1;
                                             prepare(*ws, p);
                                             benchmark::ClobberMemory();
                                             const double start = now_us();
                                             body(*ws, p, report);
                                             benchmark::ClobberMemory();
                                             state.SetIterationTime((now_us() - start) * 1e-6);
                                         }
                                     })
            ->Unit(benchmark::kMicrosecond)
            ->UseManualTime();
    };
    auto count_of = [](const Prepared& p) { return static_cast<int>(p.instance->cities.size()); };
    // The points and the solver's own distance table of the instance.
    auto with_distances = [&solver, count_of](Workspace& ws, const Prepared& p) {
        load_points(ws, *p.instance);
        solver.build_distances(ws.points, count_of(p) + 1, ws.distance_scratch, ws.distance);
    };
    add(
        "distances", [](Workspace& ws, const Prepared& p) { load_points(ws, *p.instance); },
        [&solver, count_of](Workspace& ws, const Prepared& p, char*) {
            solver.build_distances(ws.points, count_of(p) + 1, ws.distance_scratch, ws.distance);
        });
    add("construction", with_distances, [&solver, count_of](Workspace& ws, const Prepared& p, char*) {
        solver.seed_route(ws.distance, count_of(p) + 1, ws.lists);
        benchmark::DoNotOptimize(solver.insert_all(ws.distance, ws.lists, ws.insertion));
    });
    add(
        "sweep1",
        [](Workspace& ws, const Prepared& p) {
            load_points(ws, *p.instance);
            ws.lists = p.snapshots.constructed;
        },
        [&solver](Workspace& ws, const Prepared&, char*) {
            solver.uncross_route(ws.points, ws.lists.route, ws.lists.route_len, ws.sweep);
        });
    add(
        "reinsertion",
        [with_distances](Workspace& ws, const Prepared& p) {
            with_distances(ws, p);
            ws.lists = p.snapshots.swept;
        },
        [&solver](Workspace& ws, const Prepared&, char*) {
            benchmark::DoNotOptimize(solver.reinsert_interior(ws.distance, ws.lists, ws.insertion));
        });
    add(
        "sweep2",
        [](Workspace& ws, const Prepared& p) {
            load_points(ws, *p.instance);
            ws.lists = p.snapshots.reinserted;
        },
        [&solver](Workspace& ws, const Prepared&, char*) {
            solver.uncross_route(ws.points, ws.lists.route, ws.lists.route_len, ws.sweep);
        });
    add(
        "report",
        [with_distances](Workspace& ws, const Prepared& p) {
            with_distances(ws, p);
            ws.lists = p.snapshots.reinserted;
        },
        [&solver, count_of](Workspace& ws, const Prepared& p, char* report) {
            benchmark::DoNotOptimize(solver.write_report(ws, count_of(p), ws.lists.route_len, report));
        });
    add(
        "solve", [](Workspace&, const Prepared&) {},
        [&solver, count_of](Workspace& ws, const Prepared& p, char*) {
            benchmark::DoNotOptimize(solver.solve_route(ws, p.instance->cities.data(), count_of(p), p.instance->robot));
        });
}

// Random instances: uniform floats, integers 0..99 (many equal costs) and four clusters.
Instance random_instance(const std::string& family, int count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> integer(0, 99);
    std::normal_distribution<double> spread(0.0, 40.0);
    const Point centres[4] = {{100, 100}, {900, 200}, {300, 800}, {750, 700}};
    auto point = [&]() -> Point {
        if (family == "uniform") return {unit(rng) * 1000.0, unit(rng) * 1000.0};
        if (family == "integer") return {double(integer(rng)), double(integer(rng))};
        const Point& centre = centres[rng() % 4];
        return {centre.x + spread(rng), centre.y + spread(rng)};
    };
    Instance instance;
    instance.name = family + "-" + std::to_string(count);
    for (int i = 0; i < count; ++i) instance.cities.push_back(point());
    instance.robot = point();
    return instance;
}

// A TSPLIB file's NODE_COORD_SECTION with node 1 as the robot and the rest as cities.
bool read_tsplib(const std::filesystem::path& path, Instance& instance) {
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line) && line.rfind("NODE_COORD_SECTION", 0) != 0) {
    }
    std::vector<Point> nodes;
    while (std::getline(in, line) && line.rfind("EOF", 0) != 0) {
        std::istringstream fields(line);
        int index;
        Point p;
        if (fields >> index >> p.x >> p.y) nodes.push_back(p);
    }
    if (nodes.size() < 2 || nodes.size() > corvelanth::MAX_CITIES + 1) return false;
    instance.name = path.stem().string();
    instance.robot = nodes.front();
    instance.cities.assign(nodes.begin() + 1, nodes.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<InstanceSet> sets;
    for (const char* family : {"uniform", "integer", "clustered"}) {
        for (int count : {10, 50, 100, 200}) {
            InstanceSet set;
            for (int k = 0; k < SET_SIZE; ++k)
                set.instances.push_back(random_instance(family, count, 7u * count + 1 + 1000u * k));
            set.name = set.instances.front().name;
            sets.push_back(set);
        }
    }
    // script/bench points this at the classic public instances when they are there.
    const char* dir = std::getenv("CORVELANTH_TSPLIB_DIR");
    std::error_code no_directory;
    if (dir != nullptr && std::filesystem::is_directory(dir, no_directory)) {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.path().extension() == ".tsp") files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) {
            Instance instance;
            if (read_tsplib(file, instance)) sets.push_back({instance.name, {instance}});
        }
    }
    for (const InstanceSet& set : sets) {
        for (const Solver& solver : SOLVERS) register_stages(solver, set);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
