// Stage by stage timings of the solver and of the straightforward baseline on
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

#include "baseline_solver.h"
#include "route_solver.h"
#include "run_report.h"

namespace {

using corvelanth::Point;
using corvelanth::TABLE_SLOTS;

struct Instance {
    std::string name;
    std::vector<Point> cities;
    Point robot;
};

// One solver's entry points, so both run through the same benchmark code.
struct Solver {
    const char* name;
    int (*build_distances)(int);
    int (*seed_route)(int, int&, int&);
    void (*insert_all)(int&, int&);
    int (*uncross_route)(int);
    void (*reinsert_interior)(int&, int&);
    int (*solve_route)(int);
    void (*write_report)(std::FILE*, int, int);
};

const Solver SOLVERS[] = {
    {"baseline", baseline::build_distances, baseline::seed_route, baseline::insert_all, baseline::uncross_route,
     baseline::reinsert_interior, baseline::solve_route, baseline::print_run_report},
    {"fast", corvelanth::build_distances, corvelanth::seed_route, corvelanth::insert_all, corvelanth::uncross_route,
     corvelanth::reinsert_interior, corvelanth::solve_route, corvelanth::write_run_report},
};

// The route and pending lists with their counters, between two stages.
struct Lists {
    int len = 0;
    int pc = 0;
    int route[TABLE_SLOTS];
    int pending[TABLE_SLOTS];
};

Lists save_lists(int len, int pc) {
    Lists lists;
    lists.len = len;
    lists.pc = pc;
    std::memcpy(lists.route, corvelanth::route_list, sizeof lists.route);
    std::memcpy(lists.pending, corvelanth::pending_list, sizeof lists.pending);
    return lists;
}

// Puts saved lists back; copies only the entries in use.
void restore_lists(const Lists& lists, int& len, int& pc) {
    len = lists.len;
    pc = lists.pc;
    std::memcpy(corvelanth::route_list, lists.route, sizeof(int) * static_cast<size_t>(len));
    std::memcpy(corvelanth::pending_list, lists.pending, sizeof(int) * static_cast<size_t>(pc));
}

// Writes the instance into the shared tables.
void load(const Instance& instance) {
    std::copy(instance.cities.begin(), instance.cities.end(), corvelanth::point_table);
    corvelanth::robot_position = instance.robot;
}

// The lists before each stage of the pipeline, as `solver` leaves them.
struct Snapshots {
    Lists constructed;
    Lists swept;
    Lists reinserted;
};

Snapshots run_stages(const Solver& solver, const Instance& instance) {
    load(instance);
    const int n = solver.build_distances(static_cast<int>(instance.cities.size()));
    int len = 0, pc = 0;
    Snapshots snapshots;
    if (solver.seed_route(n, len, pc) < 0) std::abort();  // every benchmark instance has a reachable city
    solver.insert_all(len, pc);
    snapshots.constructed = save_lists(len, pc);
    solver.uncross_route(len);
    snapshots.swept = save_lists(len, pc);
    solver.reinsert_interior(len, pc);
    snapshots.reinserted = save_lists(len, pc);
    return snapshots;
}

std::FILE* dev_null() {
    static std::FILE* stream = std::fopen("/dev/null", "w");
    return stream;
}

// Registers every stage of one solver on one instance.
void register_stages(const Solver& solver, const Instance& instance) {
    const std::string suffix = std::string("/") + solver.name + "/" + instance.name;
    const int count = static_cast<int>(instance.cities.size());
    auto add = [&](const char* stage, auto body) {
        benchmark::RegisterBenchmark((stage + suffix).c_str(), [&solver, instance, body](benchmark::State& state) {
            const Snapshots snapshots = run_stages(solver, instance);
            for (auto _ : state) body(snapshots);
        })->Unit(benchmark::kMicrosecond);
    };
    add("distances", [&solver, count](const Snapshots&) { benchmark::DoNotOptimize(solver.build_distances(count)); });
    add("construction", [&solver, count](const Snapshots&) {
        int len = 0, pc = 0;
        solver.seed_route(count + 1, len, pc);
        solver.insert_all(len, pc);
        benchmark::DoNotOptimize(len);
    });
    add("sweep1", [&solver](const Snapshots& s) {
        int len, pc;
        restore_lists(s.constructed, len, pc);
        benchmark::DoNotOptimize(solver.uncross_route(len));
    });
    add("reinsertion", [&solver](const Snapshots& s) {
        int len, pc;
        restore_lists(s.swept, len, pc);
        solver.reinsert_interior(len, pc);
        benchmark::DoNotOptimize(len);
    });
    add("sweep2", [&solver](const Snapshots& s) {
        int len, pc;
        restore_lists(s.reinserted, len, pc);
        benchmark::DoNotOptimize(solver.uncross_route(len));
    });
    add("report", [&solver, count](const Snapshots& s) {
        int len, pc;
        restore_lists(s.reinserted, len, pc);
        solver.write_report(dev_null(), count, len);
    });
    add("solve", [&solver, count](const Snapshots&) { benchmark::DoNotOptimize(solver.solve_route(count)); });
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
