// Route quality and time per call of the route improvement against today's
// search (bench/baseline_improvement.h), side by side in one run, in four
// modes: open routes, round trips, fixed finishes and arbitrary costs.
//
// Usage: corvelanth_quality_tune [--set training|generated|both] [--kicks N,...]
//        [--baseline-kicks N] [--modes open,round,finish,manhattan,walls]
//        [--reference-runs R] [--reference-kicks K] [--cache FILE]
//        [--training DIR] [--per-family K] [--seed S] [--repeats R] [--seeds N] [--verbose 0|1]
//
// Training instances carry best-known lengths for all but the walls mode. For
// generated instances (the same eight families, other seeds) the reference is
// the best of R long runs of the search itself, the baseline and every
// measured route, kept in --cache between runs; gaps against it are a lower
// bound of the true ones.
//
// Starts: every mode improves the route plan() improves, the pipeline's for
// that mode: its open route, its route to the robot or the finish, or its
// route on the Manhattan or wall costs.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <queue>
#include <sstream>
#include <string>
#include <vector>

#include "baseline_improvement.h"
#include "route_improvement.h"
#include "route_solver.h"
#include "workspace.h"

namespace {

using corvelanth::Point;
using corvelanth::TABLE_SLOTS;
using Table = double[TABLE_SLOTS][TABLE_SLOTS];
// A heap-held distance table.
struct TableBox {
    Table d;
};

const char* const MODES[] = {"open", "round", "finish", "manhattan", "walls"};
constexpr int MODE_COUNT = 5;

struct Instance {
    std::string family;
    std::string name;
    std::vector<Point> cities;
    Point robot;
    bool training = false;
    double best_known[MODE_COUNT] = {0, 0, 0, 0, 0};  // 0 when unknown
    Point finish{0, 0};
    bool has_finish = false;
    int best_end[MODE_COUNT] = {-1, -1, -1, -1, -1};  // last city of the best-known route
};

// ---- a minimal JSON reader for the training files ----

struct Json {
    enum Kind { NUL, NUM, STR, ARR, OBJ } kind = NUL;
    double num = 0;
    std::string str;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> fields;
    const Json* get(const std::string& key) const {
        for (const auto& f : fields) {
            if (f.first == key) return &f.second;
        }
        return nullptr;
    }
};

struct JsonReader {
    const std::string& t;
    size_t i = 0;
    void space() {
        while (i < t.size() && std::isspace(static_cast<unsigned char>(t[i]))) ++i;
    }
    std::string string_value() {
        std::string out;
        ++i;
        while (i < t.size() && t[i] != '"') {
            if (t[i] == '\\') ++i;
            out += t[i++];
        }
        ++i;
        return out;
    }
    Json value() {
        space();
        Json v;
        if (t[i] == '{') {
            v.kind = Json::OBJ;
            ++i;
            space();
            if (t[i] == '}') return ++i, v;
            for (;;) {
                space();
                std::string key = string_value();
                space();
                ++i;  // ':'
                v.fields.emplace_back(key, value());
                space();
                if (t[i++] == '}') break;
            }
        } else if (t[i] == '[') {
            v.kind = Json::ARR;
            ++i;
            space();
            if (t[i] == ']') return ++i, v;
            for (;;) {
                v.items.push_back(value());
                space();
                if (t[i++] == ']') break;
            }
        } else if (t[i] == '"') {
            v.kind = Json::STR;
            v.str = string_value();
        } else if (t.compare(i, 4, "null") == 0) {
            i += 4;
        } else {
            v.kind = Json::NUM;
            char* end = nullptr;
            v.num = std::strtod(t.c_str() + i, &end);
            i = static_cast<size_t>(end - t.c_str());
        }
        return v;
    }
};

Json read_json(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    JsonReader r{text};
    return r.value();
}

Point point_of(const Json& j) {
    return {j.items[0].num, j.items[1].num};
}

std::vector<Instance> load_training(const std::string& dir) {
    std::vector<Instance> out;
    const Json best = read_json(dir + "/best_known.json");
    for (const auto& [name, entry] : best.fields) {
        const Json inst = read_json(dir + "/" + name + ".json");
        if (inst.kind != Json::OBJ) continue;
        Instance instance;
        instance.training = true;
        instance.name = name;
        instance.family = inst.get("family")->str;
        instance.robot = point_of(*inst.get("robot"));
        for (const Json& c : inst.get("cities")->items) instance.cities.push_back(point_of(c));
        const char* keys[] = {"open", "round_trip", "fixed_finish", "manhattan"};
        for (int m = 0; m < 4; ++m) {
            const Json* e = entry.get(keys[m]);
            if (e) {
                instance.best_known[m] = e->get("length")->num;
                // The last city: before the finish in the fixed-end modes;
                // unknown when the entry gives no order.
                const Json* order = e->get("order");
                const size_t from_back = m == 1 || m == 2 ? 2 : 1;
                if (order && order->items.size() >= from_back) {
                    instance.best_end[m] = static_cast<int>(order->items[order->items.size() - from_back].num);
                }
            }
        }
        if (const Json* f = entry.get("fixed_finish")) {
            instance.finish = point_of(*f->get("finish"));
            instance.has_finish = true;
        }
        out.push_back(instance);
    }
    return out;
}

// ---- generated instances in the same families ----

// Deterministic generator (splitmix64).
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

// One instance of a family, seeded by an FNV-1a hash of its name.
Instance generated_instance(const std::string& family, int count, const std::string& name) {
    Instance instance;
    instance.family = family;
    instance.name = name;
    std::uint64_t seed = 1469598103934665603ull;
    for (char ch : name) seed = (seed ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
    Random r{seed};
    const int blobs = 3 + r.below(6);
    Point centre[8];
    double spread[8];
    for (int b = 0; b < blobs; ++b) {
        centre[b] = {100 + r.unit() * 800.0, 100 + r.unit() * 800.0};
        spread[b] = 15.0 + r.unit() * 50.0;
    }
    const int rings = 2 + r.below(4);
    double radius[5];
    for (int k = 0; k < rings; ++k) radius[k] = 60.0 + (380.0 / rings) * (k + r.unit() * 0.6);
    const Point ring_centre{400 + r.unit() * 200, 400 + r.unit() * 200};
    std::vector<Point> row_slots;
    if (family == "rows") {
        const int row_count = 2 + r.below(4);
        for (int row = 0; row < row_count; ++row) {
            for (int x = 0; x < 100; ++x) row_slots.push_back({10.0 * x, 50.0 * row});
        }
    }
    auto clustered = [&]() -> Point {
        const int b = r.below(blobs);
        return {centre[b].x + spread[b] * r.normal(), centre[b].y + spread[b] * r.normal()};
    };
    auto point = [&](int index) -> Point {
        if (family == "uniform") return {r.unit() * 1000.0, r.unit() * 1000.0};
        if (family == "small") return {r.unit(), r.unit()};
        if (family == "large") return {r.unit() * 20000.0, r.unit() * 20000.0};
        if (family == "clustered") return clustered();
        if (family == "mixed") return index % 2 ? clustered() : Point{r.unit() * 1000.0, r.unit() * 1000.0};
        if (family == "grid") {
            if (index > 0 && r.below(100) < 6) return instance.cities[r.below(index)];
            return {double(r.below(100)), double(r.below(100))};
        }
        if (family == "rings") {
            const double rad = radius[r.below(rings)] + 4.0 * r.normal();
            const double a = 6.283185307179586 * r.unit();
            return {ring_centre.x + rad * std::cos(a), ring_centre.y + rad * std::sin(a)};
        }
        // rows: drill holes in rows with gaps, jittered by at most 0.3
        const int slot = r.below(static_cast<int>(row_slots.size()));
        const Point p = row_slots[slot];
        row_slots.erase(row_slots.begin() + slot);
        return {p.x + 0.6 * (r.unit() - 0.5), p.y + 0.6 * (r.unit() - 0.5)};
    };
    for (int i = 0; i < count; ++i) instance.cities.push_back(point(i));
    if (family == "rows") {
        instance.robot = {0.6 * (r.unit() - 0.5), 0.6 * (r.unit() - 0.5)};
    } else if (r.below(4) == 0) {
        Point low = instance.cities[0];
        for (const Point& c : instance.cities) low = {std::min(low.x, c.x), std::min(low.y, c.y)};
        instance.robot = low;
    } else {
        instance.robot = point(count);
    }
    return instance;
}

// The fixed finish: the bounding-box corner farthest from the robot, moved 5%
// of the way toward the opposite corner.
Point finish_of(const Instance& instance) {
    double x0 = instance.robot.x, y0 = instance.robot.y, x1 = x0, y1 = y0;
    for (const Point& c : instance.cities) {
        x0 = std::min(x0, c.x), y0 = std::min(y0, c.y), x1 = std::max(x1, c.x), y1 = std::max(y1, c.y);
    }
    const Point corners[4] = {{x0, y0}, {x1, y0}, {x0, y1}, {x1, y1}};
    int far = 0;
    double best = -1;
    for (int k = 0; k < 4; ++k) {
        const double dx = corners[k].x - instance.robot.x, dy = corners[k].y - instance.robot.y;
        const double d = std::sqrt(dx * dx + dy * dy);
        if (d > best) best = d, far = k;
    }
    const Point c = corners[far], o = corners[3 - far];
    return {c.x + 0.05 * (o.x - c.x), c.y + 0.05 * (o.y - c.y)};
}

// ---- one case: a distance table and a start route ----

struct Case {
    const Instance* instance;
    int mode;
    int len = 0;
    bool fixed_end = false;
    int start[TABLE_SLOTS];
    std::unique_ptr<TableBox> box = std::make_unique<TableBox>();
    Table& distance() const { return box->d; }
    double reference = 0;       // best known or best seen
    std::vector<Point> places;  // of the table's nodes, for straight-line tables only
};

// Shortest paths around walls: the cities on a 200 x 200 grid of cells with
// wall segments, costs by Dijkstra over 8-connected cells, scaled to the box.
void wall_costs(const std::vector<Point>& nodes, Table& d, std::uint64_t seed) {
    constexpr int G = 160;
    double x0 = nodes[0].x, y0 = nodes[0].y, x1 = x0, y1 = y0;
    for (const Point& p : nodes)
        x0 = std::min(x0, p.x), y0 = std::min(y0, p.y), x1 = std::max(x1, p.x), y1 = std::max(y1, p.y);
    const double span = std::max(x1 - x0, y1 - y0) + 1e-9;
    auto cell_of = [&](const Point& p) {
        int cx = std::min(G - 1, int((p.x - x0) / span * (G - 1) + 0.5));
        int cy = std::min(G - 1, int((p.y - y0) / span * (G - 1) + 0.5));
        return cy * G + cx;
    };
    std::vector<char> wall(G * G, 0);
    Random r{seed};
    for (int w = 0; w < 10; ++w) {
        const bool horizontal = r.below(2);
        const int at = 10 + r.below(G - 20), from = r.below(G / 2), length = G / 4 + r.below(G / 2);
        for (int k = from; k < std::min(G, from + length); ++k) wall[horizontal ? at * G + k : k * G + at] = 1;
    }
    std::vector<int> cells;
    for (const Point& p : nodes) {
        cells.push_back(cell_of(p));
        wall[cells.back()] = 0;
    }
    const double unit = span / (G - 1);
    std::vector<double> best(G * G);
    for (size_t a = 0; a < nodes.size(); ++a) {
        std::fill(best.begin(), best.end(), 1e300);
        using Item = std::pair<double, int>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> open;
        best[cells[a]] = 0;
        open.push({0, cells[a]});
        while (!open.empty()) {
            const auto [c, cell] = open.top();
            open.pop();
            if (c > best[cell]) continue;
            const int cx = cell % G, cy = cell / G;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    const int nx = cx + dx, ny = cy + dy;
                    if ((!dx && !dy) || nx < 0 || ny < 0 || nx >= G || ny >= G || wall[ny * G + nx]) continue;
                    if (dx && dy && (wall[cy * G + nx] || wall[ny * G + cx])) continue;
                    const double step = (dx && dy) ? 1.4142135623730951 : 1.0;
                    if (c + step < best[ny * G + nx]) {
                        best[ny * G + nx] = c + step;
                        open.push({c + step, ny * G + nx});
                    }
                }
            }
        }
        for (size_t b = 0; b < nodes.size(); ++b) {
            // Distinct cities in one cell still differ a little.
            const double dx = nodes[a].x - nodes[b].x, dy = nodes[a].y - nodes[b].y;
            const double straight = std::sqrt(dx * dx + dy * dy);
            // A city walled in is reached at three times the straight distance.
            const double around = best[cells[b]] < 1e299 ? best[cells[b]] * unit : 3.0 * straight;
            d[a][b] = around + 1e-3 * straight;
        }
    }
    for (size_t a = 0; a < nodes.size(); ++a) {
        for (size_t b = 0; b < a; ++b) d[a][b] = d[b][a] = std::min(d[a][b], d[b][a]);
    }
}

corvelanth::Workspace& workspace() {
    static corvelanth::Workspace* ws = new corvelanth::Workspace();
    return *ws;
}

// Builds the distance table and start route of an instance in a mode.
void build_case(const Instance& instance, int mode, Case& c) {
    c.instance = &instance;
    c.mode = mode;
    const int count = static_cast<int>(instance.cities.size());
    std::vector<Point> nodes = instance.cities;
    nodes.push_back(instance.robot);  // node count = robot
    corvelanth::Workspace& ws = workspace();
    corvelanth::Problem problem{instance.cities.data(), count, instance.robot};
    Point finish = instance.robot;
    std::vector<double> costs;
    if (mode == 1 || mode == 2) {
        if (mode == 2) finish = instance.has_finish ? instance.finish : finish_of(instance);
        problem.finish = &finish;
        nodes.push_back(finish);
        c.fixed_end = true;
    } else if (mode >= 3) {
        if (mode == 3) {
            for (int a = 0; a <= count; ++a) {
                for (int b = 0; b <= count; ++b) {
                    c.distance()[a][b] = std::fabs(nodes[a].x - nodes[b].x) + std::fabs(nodes[a].y - nodes[b].y);
                }
            }
        } else {
            wall_costs(nodes, c.distance(), 0x5EEDull + std::hash<std::string>()(instance.name));
        }
        for (int a = 0; a <= count; ++a) {
            for (int b = 0; b <= count; ++b) costs.push_back(c.distance()[a][b]);
        }
        problem.costs = costs.data();
    }
    const corvelanth::Outcome out = corvelanth::plan_route(ws, problem);
    c.len = out.route_len;
    for (int p = 0; p < c.len; ++p) c.start[p] = ws.lists.route[p];
    // The pipeline's table is the one plan() searches on: straight lines, or
    // the costs with a zero diagonal.
    std::memcpy(c.distance(), ws.distance, sizeof(Table));
    if (mode <= 2) c.places = nodes;
    c.reference = mode < 4 ? instance.best_known[mode] : 0;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Run {
    double travel;
    double seconds;
    int end;  // last node of the route
};

// Runs the new search or the baseline on a case.
Run run_search(const Case& c, bool baseline, int kicks, std::uint64_t seed) {
    static auto scratch = std::make_unique<corvelanth::ImprovementScratch>();
    static auto old_scratch = std::make_unique<baseline_search::ImprovementScratch>();
    int route[TABLE_SLOTS];
    std::memcpy(route, c.start, sizeof(int) * c.len);
    const auto t0 = std::chrono::steady_clock::now();
    double travel;
    if (baseline) {
        baseline_search::begin_improvement(c.distance(), route, c.len, c.fixed_end, {kicks, seed}, *old_scratch);
        baseline_search::run_improvement(*old_scratch, {});
        travel = baseline_search::end_improvement(c.distance(), route, *old_scratch);
    } else {
        corvelanth::begin_improvement(c.distance(), route, c.len, c.fixed_end, {kicks, seed}, *scratch,
                                      c.places.empty() ? nullptr : c.places.data());
        corvelanth::run_improvement(*scratch, {});
        travel = corvelanth::end_improvement(c.distance(), route, *scratch);
    }
    return {travel, seconds_since(t0), route[c.len - (c.fixed_end ? 2 : 1)]};
}

struct Summary {
    int count = 0;
    double sum = 0, worst = 0, sum_200 = 0, time_200 = 0;
    int count_200 = 0;
    std::string worst_name;
    void add(double gap, const std::string& name, int cities, double seconds) {
        ++count;
        sum += gap;
        if (gap > worst || worst_name.empty()) worst = gap, worst_name = name;
        if (cities >= 200) ++count_200, sum_200 += gap, time_200 += seconds;
    }
    std::string text() const {
        char buf[256];
        std::snprintf(buf, sizeof buf, "mean %7.4f%%  at 200 %7.4f%%  worst %7.4f%% (%s)  ms at 200 %6.2f",
                      count ? sum / count : 0, count_200 ? sum_200 / count_200 : 0, worst, worst_name.c_str(),
                      count_200 ? 1e3 * time_200 / count_200 : 0);
        return buf;
    }
};

std::vector<int> parse_list(const std::string& text) {
    std::vector<int> out;
    std::stringstream ss(text);
    std::string item;
    while (std::getline(ss, item, ',')) out.push_back(std::atoi(item.c_str()));
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string set = "both";
    std::vector<int> kick_list = {corvelanth::DEFAULT_KICKS, corvelanth::THOROUGH_KICKS};
    int baseline_kicks = 1200;
    std::string mode_text = "open,round,finish,manhattan,walls";
    int reference_runs = 4;
    int reference_kicks = 40000;
    std::string cache_path;
    std::string training = "/work/shared/data/training";
    int per_family = 3;
    std::uint64_t generation_seed = 1;
    int repeats = 3;
    bool verbose = false;
    int seeds = 1;
    int best_of = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--set") set = value;
        if (flag == "--kicks") kick_list = parse_list(value);
        if (flag == "--baseline-kicks") baseline_kicks = std::atoi(value.c_str());
        if (flag == "--modes") mode_text = value;
        if (flag == "--reference-runs") reference_runs = std::atoi(value.c_str());
        if (flag == "--reference-kicks") reference_kicks = std::atoi(value.c_str());
        if (flag == "--cache") cache_path = value;
        if (flag == "--training") training = value;
        if (flag == "--per-family") per_family = std::atoi(value.c_str());
        if (flag == "--seed") generation_seed = std::strtoull(value.c_str(), nullptr, 10);
        if (flag == "--repeats") repeats = std::max(1, std::atoi(value.c_str()));
        if (flag == "--best-of") best_of = std::max(1, std::atoi(value.c_str()));
        if (flag == "--seeds") seeds = std::max(1, std::atoi(value.c_str()));
        if (flag == "--verbose") verbose = std::atoi(value.c_str()) != 0;
    }
    std::vector<int> modes;
    for (int m = 0; m < MODE_COUNT; ++m) {
        if (mode_text.find(MODES[m]) != std::string::npos) modes.push_back(m);
    }

    std::vector<Instance> instances;
    if (set != "generated") instances = load_training(training);
    if (set != "training") {
        const char* families[] = {"uniform", "grid", "clustered", "mixed", "rings", "rows", "small", "large"};
        const int sizes[] = {200, 150, 100, 175, 120, 200};
        for (const char* family : families) {
            for (int k = 0; k < per_family; ++k) {
                const int size = sizes[k % 6];
                const std::string name = std::string(family) + "-" + std::to_string(size) + "-g" +
                                         std::to_string(generation_seed) + "-" + std::to_string(k);
                instances.push_back(generated_instance(family, size, name));
            }
        }
    }

    std::map<std::string, double> cache;
    if (!cache_path.empty()) {
        std::ifstream in(cache_path);
        std::string key;
        double value;
        while (in >> key >> value) cache[key] = value;
    }

    std::printf("kicks:");
    for (int k : kick_list) std::printf(" %d", k);
    std::printf("  baseline kicks %d\n", baseline_kicks);
    for (int mode : modes) {
        Summary base;
        std::vector<Summary> ours(kick_list.size());
        for (const Instance& instance : instances) {
            if (instance.training && mode == 4) continue;
            Case c;
            build_case(instance, mode, c);
            const int cities = static_cast<int>(instance.cities.size());
            const std::string key = instance.name + "/" + MODES[mode];
            double best_seen = c.reference > 0 ? c.reference : 1e300;
            if (!instance.training) {
                auto hit = cache.find(key);
                if (hit != cache.end()) {
                    best_seen = hit->second;
                } else {
                    for (int s = 0; s < reference_runs; ++s) {
                        best_seen =
                            std::min(best_seen, run_search(c, false, reference_kicks, 0xABCDEFull * (s + 7)).travel);
                    }
                }
            }
            // Timed runs: the fastest of `repeats`.
            auto timed = [&](bool baseline, int kicks) {
                Run r = run_search(c, baseline, kicks, corvelanth::DEFAULT_IMPROVEMENT_SEED);
                for (int k = 1; k < repeats; ++k) {
                    r.seconds = std::min(r.seconds,
                                         run_search(c, baseline, kicks, corvelanth::DEFAULT_IMPROVEMENT_SEED).seconds);
                }
                return r;
            };
            // The mean travel over `seeds` kick sequences, the first of which gave
            // `first`: both searches average out one sequence's luck alike.
            auto seed_mean = [&](bool baseline, int kicks, double first) {
                double sum = first;
                for (int s = 1; s < seeds; ++s) {
                    const Run other = run_search(c, baseline, kicks,
                                                 corvelanth::DEFAULT_IMPROVEMENT_SEED + 0x632BE59BD9B4E019ull * s);
                    if (!baseline && !instance.training) best_seen = std::min(best_seen, other.travel);
                    sum += other.travel;
                }
                return sum / seeds;
            };
            Run b = timed(true, baseline_kicks);
            b.travel = seed_mean(true, baseline_kicks, b.travel);
            std::vector<Run> runs;
            for (int k : kick_list) {
                Run r = timed(false, k / best_of);
                // Independent restarts: the best of best_of runs of k / best_of kicks.
                for (int s = 1; s < best_of; ++s) {
                    const Run other =
                        run_search(c, false, k / best_of, corvelanth::DEFAULT_IMPROVEMENT_SEED + 0x9E37ull * s);
                    r.travel = std::min(r.travel, other.travel);
                    r.seconds += other.seconds;
                }
                r.travel = seed_mean(false, k, r.travel);
                runs.push_back(r);
            }
            if (!instance.training) {
                best_seen = std::min(best_seen, b.travel);
                for (const Run& r : runs) best_seen = std::min(best_seen, r.travel);
                cache[key] = best_seen;
            }
            auto gap = [&](double travel) { return 100.0 * (travel / best_seen - 1.0); };
            base.add(gap(b.travel), instance.name, cities, b.seconds);
            for (size_t k = 0; k < runs.size(); ++k)
                ours[k].add(gap(runs[k].travel), instance.name, cities, runs[k].seconds);
            if (verbose) {
                std::printf("  %-9s %-22s base %7.4f%% %6.2f ms", MODES[mode], instance.name.c_str(), gap(b.travel),
                            1e3 * b.seconds);
                for (const Run& r : runs) {
                    const char* end = instance.best_end[mode] < 0 ? "" : r.end == instance.best_end[mode] ? " =" : " x";
                    std::printf("  | %7.4f%% %6.2f ms%s", gap(r.travel), 1e3 * r.seconds, end);
                    if (r.travel < best_seen) std::printf(" (%.10g below %.10g)", r.travel, best_seen);
                }
                std::printf("\n");
            }
        }
        if (base.count == 0) continue;
        std::printf("%-9s baseline %5d: %s\n", MODES[mode], baseline_kicks, base.text().c_str());
        for (size_t k = 0; k < kick_list.size(); ++k) {
            std::printf("%-9s search   %5d: %s\n", MODES[mode], kick_list[k], ours[k].text().c_str());
        }
        std::fflush(stdout);
    }
    if (!cache_path.empty()) {
        std::ofstream out(cache_path);
        for (const auto& [key, value] : cache) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.17g", value);
            out << key << ' ' << buf << '\n';
        }
    }
    return 0;
}
