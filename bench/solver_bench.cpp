// Stage by stage timings of the solver and of the straightforward oracle on
// the same instances: distances, construction, each crossing sweep, the
// reinsertion pass, the run report and the whole pipeline.
//
// Benchmarks are named "stage/solver/instance"; script/bench pairs the two
// solvers' timings of each stage and instance into ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
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

// Registers every stage of one solver on one instance.
void register_stages(const Solver& solver, const Instance& instance) {
    const std::string suffix = std::string("/") + solver.name + "/" + instance.name;
    const int count = static_cast<int>(instance.cities.size());
    auto add = [&](const char* stage, auto body) {
        benchmark::RegisterBenchmark((stage + suffix).c_str(), [&solver, instance, body](benchmark::State& state) {
            static Workspace* ws = new Workspace();
            static char* report = new char[corvelanth::REPORT_MAX_CHARS];
            const Snapshots snapshots = run_stages(solver, *ws, instance);
            for (auto _ : state) body(*ws, snapshots, report);
        })->Unit(benchmark::kMicrosecond);
    };
    add("distances", [&solver, count](Workspace& ws, const Snapshots&, char*) {
        solver.build_distances(ws.points, count + 1, ws.distance_scratch, ws.distance);
        benchmark::ClobberMemory();
    });
    add("construction", [&solver, count](Workspace& ws, const Snapshots&, char*) {
        solver.seed_route(ws.distance, count + 1, ws.lists);
        benchmark::DoNotOptimize(solver.insert_all(ws.distance, ws.lists, ws.insertion));
    });
    add("sweep1", [&solver](Workspace& ws, const Snapshots& s, char*) {
        ws.lists = s.constructed;
        solver.uncross_route(ws.points, ws.lists.route, ws.lists.route_len, ws.sweep);
        benchmark::ClobberMemory();
    });
    add("reinsertion", [&solver](Workspace& ws, const Snapshots& s, char*) {
        ws.lists = s.swept;
        benchmark::DoNotOptimize(solver.reinsert_interior(ws.distance, ws.lists, ws.insertion));
    });
    add("sweep2", [&solver](Workspace& ws, const Snapshots& s, char*) {
        ws.lists = s.reinserted;
        solver.uncross_route(ws.points, ws.lists.route, ws.lists.route_len, ws.sweep);
        benchmark::ClobberMemory();
    });
    add("report", [&solver, count](Workspace& ws, const Snapshots& s, char* report) {
        ws.lists = s.reinserted;
        benchmark::DoNotOptimize(solver.write_report(ws, count, ws.lists.route_len, report));
        benchmark::ClobberMemory();
    });
    add("solve", [&solver, instance, count](Workspace& ws, const Snapshots&, char*) {
        benchmark::DoNotOptimize(solver.solve_route(ws, instance.cities.data(), count, instance.robot));
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
    std::vector<Instance> instances;
    for (const char* family : {"uniform", "integer", "clustered"}) {
        for (int count : {10, 50, 100, 200}) instances.push_back(random_instance(family, count, 7u * count + 1));
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
            if (read_tsplib(file, instance)) instances.push_back(instance);
        }
    }
    for (const Instance& instance : instances) {
        for (const Solver& solver : SOLVERS) register_stages(solver, instance);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
