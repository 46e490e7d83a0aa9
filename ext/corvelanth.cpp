// Ruby binding: the Corvelanth class, its solve method and the run report.
//
// Ruby raises by longjmp, which skips C++ destructors, so nothing here owns a
// resource: coordinates are converted into plain stack arrays first, and only
// then are the shared tables written, solved and reported with no Ruby code
// able to run in between.
#include <ruby.h>

#include <cstdio>

#include "route_solver.h"
#include "run_report.h"

namespace {

using corvelanth::MAX_CITIES;

VALUE solver_class = Qnil;

// Coordinates of one call, converted before any shared table is touched.
struct CallInput {
    long count;
    corvelanth::Point cities[MAX_CITIES];
    corvelanth::Point robot;
};

// Reads elements 0 and 1 of a coordinate pair; raises when it is too short.
void read_pair(VALUE pair, corvelanth::Point* out, const char* what, long index) {
    if (RARRAY_LEN(pair) < 2) {
        if (index < 0) rb_raise(rb_eArgError, "%s must have two coordinates", what);
        rb_raise(rb_eArgError, "%s %ld must have two coordinates", what, index);
    }
    out->x = rb_num2dbl(rb_ary_entry(pair, 0));
    out->y = rb_num2dbl(rb_ary_entry(pair, 1));
}

// Checks the arguments and converts every coordinate, in the order given.
void read_input(VALUE cities, VALUE robot, CallInput* input) {
    rb_check_type(cities, T_ARRAY);
    const long count = RARRAY_LEN(cities);
    if (count > MAX_CITIES) rb_raise(rb_eRuntimeError, "too many cities");
    // rb_ary_entry gives nil past the end, so an array shrunk by a conversion's
    // own Ruby code raises a TypeError instead of being read out of bounds.
    for (long i = 0; i < count; ++i) {
        VALUE city = rb_ary_entry(cities, i);
        rb_check_type(city, T_ARRAY);
        read_pair(city, &input->cities[i], "city", i);
    }
    input->count = count;
    rb_check_type(robot, T_ARRAY);
    read_pair(robot, &input->robot, "robot", -1);
}

// Flushes Ruby's $stdout so the report lands after what the program printed.
void flush_ruby_stdout() {
    if (rb_respond_to(rb_stdout, rb_intern("flush"))) {
        rb_funcall(rb_stdout, rb_intern("flush"), 0);
    }
}

// Corvelanth.solve(cities, robot): the route as an Array of node indices.
VALUE solve_method(VALUE self, VALUE cities, VALUE robot) {
    CallInput input;
    read_input(cities, robot, &input);
    flush_ruby_stdout();

    // From here to the end of the report no Ruby code runs.
    const int count = static_cast<int>(input.count);
    for (int i = 0; i < count; ++i) corvelanth::point_table[i] = input.cities[i];
    corvelanth::robot_position = input.robot;
    const int len = corvelanth::solve_route(count);
    if (len < 0) {
        rb_raise(rb_eRuntimeError, "no city can be reached from the robot");
    }
    int route[corvelanth::TABLE_SLOTS];
    for (int p = 0; p < len; ++p) route[p] = corvelanth::route_list[p];
    corvelanth::write_run_report(stdout, count, len);
    std::fflush(stdout);

    VALUE result = rb_ary_new2(len);
    for (int p = 0; p < len; ++p) rb_ary_store(result, p, INT2FIX(route[p]));
    return result;
}

}  // namespace

extern "C" {
RUBY_FUNC_EXPORTED void Init_Corvelanth(void) {
    solver_class = rb_define_class("Corvelanth", rb_cObject);
    rb_define_singleton_method(solver_class, "solve", RUBY_METHOD_FUNC(solve_method), 2);
}
}
