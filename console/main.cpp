// Console driver: solves a random instance of the requested size and prints
// the route on standard output and its length on standard error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "route_solver.h"
#include "workspace.h"

namespace corvelanth {
namespace {

// Reads the city count: an optionally signed run of digits, like "%d", but a
// value out of int range is reported instead of being undefined. Returns false
// when no number could be read.
bool read_count(long* count) {
    char digits[32];
    if (std::scanf(" %30[-+0123456789]", digits) != 1) return false;
    const int next = std::getchar();
    if (next >= '0' && next <= '9') return false;  // longer than any count we take
    if (next != EOF) std::ungetc(next, stdin);
    char* end = nullptr;
    errno = 0;
    *count = std::strtol(digits, &end, 10);
    return errno == 0 && end != digits && *end == '\0';
}

// A random instance: the cities, then the robot.
struct Instance {
    int count;
    Point cities[MAX_CITIES];
    Point robot;
};

// Fills the cities and the robot with rand() % 100 coordinates, drawn x then
// y; false when the count is not a whole number from 0 to MAX_CITIES.
bool read_random_instance(Instance& instance) {
    std::fputs("How many cities ... ", stderr);
    long count = 0;
    if (!read_count(&count) || count < 0 || count > MAX_CITIES) {
        std::fprintf(stderr, "The city count must be a whole number from 0 to %d.\n", MAX_CITIES);
        return false;
    }
    instance.count = static_cast<int>(count);
    for (int i = 0; i < instance.count; ++i) {
        instance.cities[i].x = std::rand() % 100;
        instance.cities[i].y = std::rand() % 100;
    }
    instance.robot.x = std::rand() % 100;
    instance.robot.y = std::rand() % 100;
    return true;
}

}  // namespace
}  // namespace corvelanth

int main() {
    using namespace corvelanth;
    auto instance = std::make_unique<Instance>();
    if (!read_random_instance(*instance)) return EXIT_FAILURE;
    auto ws = std::make_unique<Workspace>();
    const Outcome outcome = solve_route(*ws, instance->cities, instance->count, instance->robot);
    if (outcome.seed_failed) std::fputs("Too few city.\nError.\n", stderr);
    for (int k = 0; k < outcome.no_position_count; ++k) std::fputs("No position.\n", stderr);
    for (int p = 0; p < outcome.route_len; ++p) {
        const int node = ws->lists.route[p];
        std::printf("%d %d %4.2f %4.2f\n", p, node, ws->points[node].x, ws->points[node].y);
    }
    std::fprintf(stderr, "length %5.2f\n", route_travel(*ws, outcome.route_len));
    return 0;
}
