// Console driver: solves a random instance of the requested size and prints
// the route on standard output and its length on standard error.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "route_solver.h"
#include "workspace.h"

namespace corvelanth {
namespace {

// A random instance: the cities, then the robot.
struct Instance {
    int count;
    Point cities[MAX_CITIES];
    Point robot;
};

// The first failed write to each stream, as its errno (0 while none failed).
struct WriteErrors {
    int out = 0;
    int err = 0;
};

// Writes formatted text to `stream`; remembers the first failure in `error`.
__attribute__((format(printf, 3, 4))) void print_to(std::FILE* stream, int* error, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    errno = 0;
    const int written = std::vfprintf(stream, format, args);
    va_end(args);
    if (written < 0 && *error == 0) *error = errno != 0 ? errno : EIO;
}

// True for the blanks allowed around the count.
bool is_blank(int c) {
    return c == ' ' || c == '\t';
}

// Reads the count line: blanks, an optional sign and digits as "%d" reads
// them, blanks, then a newline or the end of input; a carriage return right
// before the newline counts as a blank, so a line from a Windows text file
// reads the same. False for anything else, including a value outside
// 0..MAX_CITIES ("-0" is 0).
bool read_count(int* count) {
    int c = std::getchar();
    while (is_blank(c)) c = std::getchar();
    const bool negative = c == '-';
    if (c == '-' || c == '+') c = std::getchar();
    if (c < '0' || c > '9') return false;
    long value = 0;
    for (; c >= '0' && c <= '9'; c = std::getchar()) {
        // Saturates just past the limit, so no run of digits can overflow.
        if (value <= MAX_CITIES) value = value * 10 + (c - '0');
    }
    while (is_blank(c)) c = std::getchar();
    if (c == '\r') {
        c = std::getchar();
        if (c != '\n') return false;
    }
    if (c != '\n' && c != EOF) return false;
    if (negative && value != 0) return false;
    if (value > MAX_CITIES) return false;
    *count = static_cast<int>(value);
    return true;
}

// Asks for the count, then fills the cities and the robot with rand() % 100
// coordinates, drawn x then y; false when the count is refused.
bool read_random_instance(Instance& instance, WriteErrors& errors) {
    print_to(stderr, &errors.err, "How many cities ... ");
    int count = 0;
    if (!read_count(&count)) {
        print_to(stderr, &errors.err, "The city count must be a whole number from 0 to %d.\n", MAX_CITIES);
        return false;
    }
    instance.count = count;
    for (int i = 0; i < instance.count; ++i) {
        instance.cities[i].x = std::rand() % 100;
        instance.cities[i].y = std::rand() % 100;
    }
    instance.robot.x = std::rand() % 100;
    instance.robot.y = std::rand() % 100;
    return true;
}

// Flushes standard output and reports any failed write on standard error, as
// far as it can still be written; false when a write failed.
bool finish_output(WriteErrors& errors) {
    // Flushed last, as at exit, so output sent to one pipe keeps its order.
    errno = 0;
    if (std::fflush(stdout) != 0 && errors.out == 0) errors.out = errno != 0 ? errno : EIO;
    if (std::ferror(stdout) && errors.out == 0) errors.out = EIO;
    if (std::ferror(stderr) && errors.err == 0) errors.err = EIO;
    if (errors.out != 0) {
        std::fprintf(stderr, "corvelanth-console: cannot write standard output: %s\n", std::strerror(errors.out));
    }
    if (errors.err != 0) {
        std::fprintf(stderr, "corvelanth-console: cannot write standard error: %s\n", std::strerror(errors.err));
    }
    return errors.out == 0 && errors.err == 0;
}

}  // namespace
}  // namespace corvelanth

int main() {
    using namespace corvelanth;
    WriteErrors errors;
    auto instance = std::make_unique<Instance>();
    if (!read_random_instance(*instance, errors)) {
        finish_output(errors);
        return EXIT_FAILURE;
    }
    auto ws = std::make_unique<Workspace>();
    const Outcome outcome = solve_route(*ws, instance->cities, instance->count, instance->robot);
    if (outcome.seed_failed) print_to(stderr, &errors.err, "Too few city.\nError.\n");
    for (int k = 0; k < outcome.no_position_count; ++k) print_to(stderr, &errors.err, "No position.\n");
    for (int p = 0; p < outcome.route_len; ++p) {
        const int node = ws->lists.route[p];
        print_to(stdout, &errors.out, "%d %d %4.2f %4.2f\n", p, node, ws->points[node].x, ws->points[node].y);
    }
    print_to(stderr, &errors.err, "length %5.2f\n", route_travel(*ws, outcome.route_len));
    return finish_output(errors) ? EXIT_SUCCESS : EXIT_FAILURE;
}
