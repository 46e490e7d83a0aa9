// Ruby binding: the Corvelanth class and its solve method.
//
// A call converts every coordinate into plain storage first, with the
// interpreter lock held, since a conversion may run Ruby code. It then solves
// and formats the run report with the lock released, on the calling thread's
// own workspace, and finally hands the diagnostics and the report to the
// destinations' own write methods.
//
// Ruby raises by longjmp, which skips C++ destructors, so no frame that Ruby
// code can raise through owns anything: the workspace is the thread's, and
// everything else is plain storage on the stack.
#include <ruby.h>
#include <ruby/thread.h>

#include <memory>
#include <new>

#include "route_solver.h"
#include "run_report.h"
#include "workspace.h"

namespace {

using corvelanth::MAX_CITIES;
using corvelanth::Outcome;
using corvelanth::Point;

// Smaller solves take less time than handing the interpreter lock over and
// back, so they run with it held.
constexpr int UNLOCKED_MIN_CITIES = 24;

VALUE solver_class = Qnil;
ID id_write;
ID id_flush;
ID id_report;

// Coordinates of one call, converted before the solver sees any of them.
struct CallInput {
    int count;
    Point cities[MAX_CITIES];
    Point robot;
};

// What one thread keeps between its calls: the solver's workspace and the
// text of the last report.
struct ThreadState {
    corvelanth::Workspace ws;
    char report[corvelanth::REPORT_MAX_CHARS];
};

// The calling thread's state, made on its first call and freed when the
// thread ends; raises NoMemoryError when it cannot be made.
ThreadState& thread_state() {
    thread_local std::unique_ptr<ThreadState> state;
    if (!state) {
        state.reset(new (std::nothrow) ThreadState());
        if (!state) rb_memerror();
    }
    return *state;
}

// Reads elements 0 and 1 of a coordinate pair; raises when it is too short.
void read_pair(VALUE pair, Point* out, const char* what, long index) {
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
    input->count = static_cast<int>(count);
    rb_check_type(robot, T_ARRAY);
    read_pair(robot, &input->robot, "robot", -1);
}

// The report destination a call names: nil for none; raises TypeError for
// anything that cannot be written to.
VALUE report_destination(VALUE report) {
    if (report == Qundef) return rb_gv_get("$stdout");
    if (!RTEST(report)) return Qnil;
    if (!rb_respond_to(report, id_write)) {
        rb_raise(rb_eTypeError, "report: must be nil, false or respond to write (given %s)", rb_obj_classname(report));
    }
    return report;
}

// One solve as the thread without the lock runs it.
struct SolveCall {
    ThreadState* state;
    const CallInput* input;
    bool with_report;
    Outcome outcome;
    long report_size;
};

// Solves and, when asked, formats the report; runs without the interpreter lock.
void* solve_without_lock(void* data) {
    auto* call = static_cast<SolveCall*>(data);
    corvelanth::Workspace& ws = call->state->ws;
    const CallInput& input = *call->input;
    call->outcome = corvelanth::solve_route(ws, input.cities, input.count, input.robot);
    call->report_size = 0;
    if (call->with_report && !call->outcome.seed_failed) {
        char* end = corvelanth::write_run_report(ws, input.count, call->outcome.route_len, call->state->report);
        call->report_size = end - call->state->report;
    }
    return nullptr;
}

// Writes `text` to `io` through its own write method.
void write_text(VALUE io, VALUE text) {
    rb_funcall(io, id_write, 1, text);
}

// The diagnostics of an outcome, as the solver's messages read.
VALUE diagnostics_text(const Outcome& outcome) {
    if (outcome.seed_failed) return rb_str_new_cstr("Too few city.\nError.\n");
    static const char line[] = "No position.\n";
    VALUE text = rb_str_buf_new((sizeof line - 1) * outcome.no_position_count);
    for (int k = 0; k < outcome.no_position_count; ++k) rb_str_cat(text, line, sizeof line - 1);
    return text;
}

/*
 * call-seq:
 *   Corvelanth.solve(cities, robot, report: $stdout) -> Array of Integer
 *
 * Plans an open route from +robot+ through +cities+ and returns the node
 * indices in visiting order: the robot's node (cities.size) first, then the
 * cities, 0-based in the given order. Each city is [x, y, *ignored] and the
 * robot is [x, y], with coordinates that convert with to_f.
 *
 * The run report is written with report.write, to $stdout as it is at the
 * time of the call unless +report+ names another destination, and flushed
 * when the destination has a flush; nil or false writes none. The solver's
 * diagnostics go to $stderr, before the report.
 *
 * Raises TypeError or ArgumentError for bad arguments, RuntimeError
 * "too many cities" above 200 cities and "no city can be reached from the
 * robot" when no route can be started, and whatever the destination's write
 * raises.
 */
VALUE solve_method(int argc, VALUE* argv, VALUE self) {
    VALUE cities, robot, report = Qundef;
    if (argc == 2 && !rb_keyword_given_p()) {  // the usual call: no keyword to parse
        cities = argv[0];
        robot = argv[1];
    } else {
        VALUE options;
        rb_scan_args(argc, argv, "2:", &cities, &robot, &options);
        if (!NIL_P(options)) rb_get_kwargs(options, &id_report, 0, 1, &report);
    }
    const VALUE destination = report_destination(report);

    CallInput input;
    read_input(cities, robot, &input);

    // From here until the lock is taken back, no Ruby code runs and nothing
    // else uses this thread's state.
    SolveCall call{&thread_state(), &input, !NIL_P(destination), Outcome{}, 0};
    if (input.count < UNLOCKED_MIN_CITIES) {
        solve_without_lock(&call);
    } else {
        rb_thread_call_without_gvl(solve_without_lock, &call, nullptr, nullptr);
    }
    const Outcome& outcome = call.outcome;

    const VALUE error_stream = rb_gv_get("$stderr");
    if (outcome.seed_failed) {
        write_text(error_stream, diagnostics_text(outcome));
        rb_raise(rb_eRuntimeError, "no city can be reached from the robot");
    }
    const int* route = call.state->ws.lists.route;
    VALUE result = rb_ary_new_capa(outcome.route_len);
    for (int p = 0; p < outcome.route_len; ++p) rb_ary_push(result, INT2FIX(route[p]));
    VALUE text = NIL_P(destination) ? Qnil : rb_str_new(call.state->report, call.report_size);
    // The state may be reused from here on: the writes can run any Ruby code.
    if (outcome.no_position_count > 0) write_text(error_stream, diagnostics_text(outcome));
    if (!NIL_P(text)) {
        write_text(destination, text);
        // Handed over now, as a write to the C library's stdout with a flush
        // was: a failure raises here, and output stays in order on any stream.
        if (rb_respond_to(destination, id_flush)) rb_funcall(destination, id_flush, 0);
    }
    return result;
}

}  // namespace

extern "C" {
RUBY_FUNC_EXPORTED void Init_Corvelanth(void) {
    // Every call works on its own thread's state and its own Ruby objects.
    rb_ext_ractor_safe(true);
    id_write = rb_intern("write");
    id_flush = rb_intern("flush");
    id_report = rb_intern("report");
    solver_class = rb_define_class("Corvelanth", rb_cObject);
    rb_define_singleton_method(solver_class, "solve", RUBY_METHOD_FUNC(solve_method), -1);
}
}
