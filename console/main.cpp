// Console driver: solves a random instance of the requested size and prints
// the route on standard output and its length on standard error.
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "route_solver.h"

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

// Fills the point table and the robot with rand() % 100 coordinates; the count
// read, or -1 when it is not a whole number from 0 to MAX_CITIES.
int read_random_instance() {
    std::fputs("How many cities ... ", stderr);
    long count = 0;
    if (!read_count(&count) || count < 0 || count > MAX_CITIES) {
        std::fprintf(stderr, "The city count must be a whole number from 0 to %d.\n", MAX_CITIES);
        return -1;
    }
    for (long i = 0; i < count; ++i) {
        point_table[i].x = std::rand() % 100;
        point_table[i].y = std::rand() % 100;
    }
    robot_position.x = std::rand() % 100;
    robot_position.y = std::rand() % 100;
    return static_cast<int>(count);
}

}  // namespace
}  // namespace corvelanth

int main() {
    using namespace corvelanth;
    const int count = read_random_instance();
    if (count < 0) return EXIT_FAILURE;
    const int len = solve_route(count);
    double length = 0.0;
    for (int p = 0; p < len; ++p) {
        const int node = route_list[p];
        std::printf("%d %d %4.2f %4.2f\n", p, node, point_table[node].x, point_table[node].y);
    }
    for (int p = 0; p + 1 < len; ++p) length += distance_table[route_list[p]][route_list[p + 1]];
    std::fprintf(stderr, "length %5.2f\n", length);
    return 0;
}
