// Route quality and time per call of the fixed pipeline with the route
// improvement off and on, on the public instances and on a random mix.
//
// Usage: corvelanth_quality_tune [--kicks N] [--reference-scale M] [--seeds S]
//        [--cache FILE] [--data DIR] [--repeats R]
//        [--per-size K] [--verbose 0|1] [--seed-runs N] [--min-size C]
// Gaps are measured against open_route_best.txt for the public instances. For
// the random mix the best known is the exact optimum for up to 12 cities and
// otherwise the best of S improvement runs with M times the kicks (seeded
// differently); --cache keeps those lengths between runs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "route_improvement.h"
#include "route_solver.h"
#include "workspace.h"

namespace {

using corvelanth::Point;
using corvelanth::TABLE_SLOTS;

struct Instance {
    std::string family;
    std::string name;
    std::vector<Point> cities;
    Point robot;
    double best_known = 0.0;
};

// One pipeline outcome: the route and the distance table it refers to.
struct PipelineRoute {
    int len = 0;
    int route[TABLE_SLOTS];
    const double (*distance)[TABLE_SLOTS] = nullptr;
};

// Runs the fixed pipeline on an instance; the distances stay valid until the next run.
void run_pipeline(const Instance& instance, PipelineRoute& out) {
    static corvelanth::Workspace* ws = new corvelanth::Workspace();
    const int count = static_cast<int>(instance.cities.size());
    const corvelanth::Outcome outcome = corvelanth::solve_route(*ws, instance.cities.data(), count, instance.robot);
    out.len = outcome.route_len;
    for (int p = 0; p < out.len; ++p) out.route[p] = ws->lists.route[p];
    out.distance = ws->distance;
}

// Deterministic generator for the random mix (splitmix64).
struct Random {
    std::uint64_t state;
    std::uint64_t bits() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double unit() { return static_cast<double>(bits() >> 11) * (1.0 / 9007199254740992.0); }
    int below(int n) { return static_cast<int>(bits() % static_cast<std::uint64_t>(n)); }
    double normal() {
        const double u = unit() + 1e-300;
        return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * unit());
    }
};

// Uniform floats, integer grid 0..99 (many ties) or Gaussian blobs.
Instance random_instance(const std::string& family, int count, int index) {
    Instance instance;
    instance.family = family;
    instance.name = family + "-" + std::to_string(count) + "-" + std::to_string(index);
    // Seeded by an FNV-1a hash of the name, so each instance is the same on every run.
    std::uint64_t seed = 1469598103934665603ull;
    for (char ch : instance.name) seed = (seed ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
    Random r{seed};
    const int blobs = 2 + r.below(6);
    Point centre[8];
    double spread[8];
    for (int b = 0; b < blobs; ++b) {
        centre[b] = {r.unit() * 1000.0, r.unit() * 1000.0};
        spread[b] = 10.0 + r.unit() * 50.0;
    }
    auto point = [&]() -> Point {
        if (family == "uniform") return {r.unit() * 1000.0, r.unit() * 1000.0};
        if (family == "grid") return {double(r.below(100)), double(r.below(100))};
        const int b = r.below(blobs);
        return {centre[b].x + spread[b] * r.normal(), centre[b].y + spread[b] * r.normal()};
    };
    instance.robot = point();
    for (int i = 0; i < count; ++i) instance.cities.push_back(point());
    return instance;
}

// Reads "index x y" lines after NODE_COORD_SECTION; node 1 is the robot.
bool load_tsp(const std::string& path, Instance& instance) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool coords = false;
    std::vector<Point> nodes;
    while (std::getline(in, line)) {
        if (line.find("NODE_COORD_SECTION") != std::string::npos) {
            coords = true;
            continue;
        }
        if (!coords || line.find("EOF") != std::string::npos) continue;
        std::istringstream fields(line);
        int index;
        double x, y;
        if (fields >> index >> x >> y) nodes.push_back({x, y});
    }
    if (nodes.size() < 2) return false;
    instance.robot = nodes[0];
    instance.cities.assign(nodes.begin() + 1, nodes.end());
    return true;
}

// Exact shortest open route over the pipeline's route nodes (route[0] fixed), for up to 13 nodes.
double exact_open_route(const PipelineRoute& pr) {
    const int m = pr.len - 1;
    if (m <= 0) return 0.0;
    const int full = 1 << m;
    std::vector<double> best(static_cast<size_t>(full) * m, 1e300);
    auto d = [&](int a, int b) { return pr.distance[pr.route[a]][pr.route[b]]; };
    for (int j = 0; j < m; ++j) best[(1u << j) * m + j] = d(0, j + 1);
    for (int set = 1; set < full; ++set) {
        for (int j = 0; j < m; ++j) {
            if (!(set & (1 << j))) continue;
            const double here = best[static_cast<size_t>(set) * m + j];
            if (here >= 1e300) continue;
            for (int k = 0; k < m; ++k) {
                if (set & (1 << k)) continue;
                double& next = best[static_cast<size_t>(set | (1 << k)) * m + k];
                const double via = here + d(j + 1, k + 1);
                if (via < next) next = via;
            }
        }
    }
    double result = 1e300;
    for (int j = 0; j < m; ++j) result = std::min(result, best[static_cast<size_t>(full - 1) * m + j]);
    return result;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Improvement runs per instance, each with its own seed; gaps are their mean.
int seed_runs = 1;

struct Measure {
    double gap_off = 0.0;
    double gap_on = 0.0;
    double time_off = 0.0;  // seconds per call, pipeline only
    double time_on = 0.0;   // seconds per call, pipeline and improvement
};

// Gap and time per call of one instance with the improvement off and on.
Measure measure(const Instance& instance, int kicks, int repeats, corvelanth::ImprovementScratch& scratch) {
    static PipelineRoute pr;
    Measure m;
    double off = 0.0;
    double on = 0.0;
    double t_off = 1e9;
    double t_on = 1e9;
    for (int rep = 0; rep < repeats; ++rep) {
        auto t0 = std::chrono::steady_clock::now();
        run_pipeline(instance, pr);
        t_off = std::min(t_off, seconds_since(t0));
        off = corvelanth::route_travel(pr.distance, pr.route, pr.len);
        t0 = std::chrono::steady_clock::now();
        run_pipeline(instance, pr);
        on = corvelanth::improve_route(pr.distance, pr.route, pr.len, {kicks}, scratch);
        t_on = std::min(t_on, seconds_since(t0));
    }
    // Further runs with other seeds, to average out the luck of one kick sequence.
    double on_sum = on;
    for (int run = 1; run < seed_runs; ++run) {
        run_pipeline(instance, pr);
        const corvelanth::ImprovementBudget budget{kicks,
                                                   corvelanth::DEFAULT_IMPROVEMENT_SEED + 0x632BE59BD9B4E019ull * run};
        on_sum += corvelanth::improve_route(pr.distance, pr.route, pr.len, budget, scratch);
    }
    on = on_sum / seed_runs;
    m.gap_off = 100.0 * (off / instance.best_known - 1.0);
    m.gap_on = 100.0 * (on / instance.best_known - 1.0);
    m.time_off = t_off;
    m.time_on = t_on;
    return m;
}

struct Summary {
    int count = 0;
    double sum_off = 0, worst_off = -1e9, sum_on = 0, worst_on = -1e9, time_off = 0, time_on = 0;
    double worst_time_on = 0;
    std::string worst_name;
    void add(const Measure& m, const std::string& name) {
        ++count;
        sum_off += m.gap_off;
        sum_on += m.gap_on;
        worst_off = std::max(worst_off, m.gap_off);
        if (m.gap_on > worst_on) {
            worst_on = m.gap_on;
            worst_name = name;
        }
        time_off += m.time_off;
        time_on += m.time_on;
        worst_time_on = std::max(worst_time_on, m.time_on);
    }
    void print(const std::string& label) const {
        if (count == 0) return;
        std::printf(
            "%-18s n=%3d  off: mean %6.3f%% worst %6.3f%%  on: mean %6.3f%% worst %6.3f%% (%s)"
            "  time off %7.3f ms  on %7.3f ms (max %.3f)\n",
            label.c_str(), count, sum_off / count, worst_off, sum_on / count, worst_on, worst_name.c_str(),
            1e3 * time_off / count, 1e3 * time_on / count, 1e3 * worst_time_on);
    }
};

}  // namespace

int main(int argc, char** argv) {
    int kicks = corvelanth::DEFAULT_KICKS;
    int reference_scale = 50;
    int seeds = 3;
    int repeats = 3;
    int per_size = 7;
    bool verbose = false;
    int min_size = 0;
    std::string cache_path;
    std::string data = "/work/shared/data/tsplib";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--kicks") kicks = std::atoi(argv[i + 1]);
        if (flag == "--reference-scale") reference_scale = std::atoi(argv[i + 1]);
        if (flag == "--seeds") seeds = std::atoi(argv[i + 1]);
        if (flag == "--repeats") repeats = std::atoi(argv[i + 1]);
        if (flag == "--per-size") per_size = std::atoi(argv[i + 1]);
        if (flag == "--cache") cache_path = argv[i + 1];
        if (flag == "--data") data = argv[i + 1];
        if (flag == "--seed-runs") seed_runs = std::max(1, std::atoi(argv[i + 1]));
        if (flag == "--min-size") min_size = std::atoi(argv[i + 1]);
        if (flag == "--verbose") verbose = std::atoi(argv[i + 1]) != 0;
    }
    auto scratch = std::make_unique<corvelanth::ImprovementScratch>();

    // Public instances with their best-known lengths.
    std::vector<Instance> publics;
    {
        std::ifstream best(data + "/open_route_best.txt");
        std::string line;
        while (std::getline(best, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream fields(line);
            Instance instance;
            int cities;
            if (!(fields >> instance.name >> cities >> instance.best_known)) continue;
            instance.family = "public";
            if (load_tsp(data + "/" + instance.name + ".tsp", instance)) publics.push_back(instance);
        }
    }

    // Random mix with cached or freshly computed best-known lengths.
    std::map<std::string, double> cache;
    if (!cache_path.empty()) {
        std::ifstream in(cache_path);
        std::string name;
        double value;
        while (in >> name >> value) cache[name] = value;
    }
    std::vector<Instance> randoms;
    const int sizes[] = {10, 12, 20, 30, 50, 75, 100, 150, 200};
    for (const char* family : {"uniform", "grid", "clustered"}) {
        for (int size : sizes) {
            if (size < min_size) continue;
            for (int k = 0; k < per_size; ++k) randoms.push_back(random_instance(family, size, k));
        }
    }
    static PipelineRoute pr;
    for (Instance& instance : randoms) {
        auto hit = cache.find(instance.name);
        if (hit != cache.end()) {
            instance.best_known = hit->second;
            continue;
        }
        run_pipeline(instance, pr);
        double best = corvelanth::route_travel(pr.distance, pr.route, pr.len);
        if (pr.len <= 13) {
            best = std::min(best, exact_open_route(pr));
        } else {
            PipelineRoute copy;
            for (int s = 0; s < seeds; ++s) {
                copy = pr;
                corvelanth::ImprovementBudget budget{corvelanth::DEFAULT_KICKS * reference_scale,
                                                     0x9E3779B97F4A7C15ull * (s + 1) + 12345};
                best = std::min(best, corvelanth::improve_route(copy.distance, copy.route, copy.len, budget, *scratch));
            }
        }
        instance.best_known = best;
        cache[instance.name] = best;
    }
    if (!cache_path.empty()) {
        std::ofstream out(cache_path);
        for (const auto& [name, value] : cache) out << name << ' ' << std::to_string(value) << '\n';
    }

    std::printf("kicks %d\n", kicks);
    Summary public_summary;
    for (const Instance& instance : publics) {
        const Measure m = measure(instance, kicks, repeats, *scratch);
        std::printf("  %-10s %3zu cities  off %6.3f%%  on %6.3f%%  %.3f ms -> %.3f ms\n", instance.name.c_str(),
                    instance.cities.size(), m.gap_off, m.gap_on, 1e3 * m.time_off, 1e3 * m.time_on);
        public_summary.add(m, instance.name);
    }
    public_summary.print("public");

    std::map<std::string, Summary> by_family;
    std::map<int, Summary> by_size;
    Summary all;
    for (const Instance& instance : randoms) {
        const Measure m = measure(instance, kicks, repeats, *scratch);
        if (verbose) {
            std::printf("  %-16s off %6.3f%%  on %6.3f%%  %.3f ms -> %.3f ms\n", instance.name.c_str(), m.gap_off,
                        m.gap_on, 1e3 * m.time_off, 1e3 * m.time_on);
        }
        by_family[instance.family].add(m, instance.name);
        by_size[static_cast<int>(instance.cities.size())].add(m, instance.name);
        all.add(m, instance.name);
    }
    for (const auto& [family, summary] : by_family) summary.print(family);
    for (const auto& [size, summary] : by_size) summary.print("size " + std::to_string(size));
    all.print("random mix");
    return 0;
}
