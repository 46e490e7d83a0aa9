// Ruby binding: the Corvelanth class, Corvelanth.solve and Corvelanth.plan,
// the Route they describe, and the gem's error classes.
//
// A call converts every coordinate into plain storage first, with the
// interpreter lock held, since a conversion may run Ruby code. It then solves
// (and formats the run report, when one is wanted) with the lock released,
// on the calling thread's own workspace, and finally builds its result and
// hands the diagnostics and the report to the destinations' own write methods.
//
// Ruby raises by longjmp, which skips C++ destructors, so no frame that Ruby
// code can raise through owns anything: the workspace is the thread's, and
// everything else is plain storage on the stack.
#include <ruby.h>
#include <ruby/ractor.h>
#include <ruby/thread.h>

#include <algorithm>
#include <memory>
#include <new>

#include "route_improvement.h"
#include "route_solver.h"
#include "run_report.h"
#include "simd.h"
#include "workspace.h"

namespace {

using corvelanth::MAX_CITIES;
using corvelanth::Outcome;
using corvelanth::Point;

// Smaller solves take less time than handing the interpreter lock over and
// back, so they run with it held.
constexpr int UNLOCKED_MIN_CITIES = 24;
// The largest improvement budget plan accepts, in kicks: about a minute of work.
constexpr long MAX_KICKS = 10000000;

// Classes and names, made once at load time and only read afterwards.
VALUE solver_class = Qnil;
VALUE route_class = Qnil;
VALUE error_class = Qnil;
VALUE too_many_cities_class = Qnil;
VALUE unreachable_class = Qnil;
ID id_write;
ID id_flush;
ID id_report;
ID id_improve;
ID id_order;
ID id_travel;
ID id_unplaced;

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

// `value` as an Array, through to_ary where it has one; raises TypeError as
// rb_check_type does when it is neither.
VALUE to_array(VALUE value) {
    const VALUE array = rb_check_array_type(value);
    if (NIL_P(array)) rb_check_type(value, T_ARRAY);
    return array;
}

// Element k of a point's Array, or member k of its Struct.
VALUE point_element(VALUE point, bool is_struct, long k) {
    return is_struct ? rb_struct_aref(point, LONG2FIX(k)) : rb_ary_entry(point, k);
}

// `value` as a double: Floats and Fixnums directly, with the bits
// rb_num2dbl gives them; anything else through rb_num2dbl, which may run the
// object's own to_f.
inline double to_double(VALUE value) {
    if (RB_FLOAT_TYPE_P(value)) return RFLOAT_VALUE(value);
    if (RB_FIXNUM_P(value)) return static_cast<double>(FIX2LONG(value));
    return rb_num2dbl(value);
}

// Reads x and y of a point: elements 0 and 1 of an Array (or of what to_ary
// gives), or else the first two members of a Struct; raises when there are fewer.
void read_point(VALUE value, Point* out, const char* what, long index) {
    VALUE point = RB_TYPE_P(value, T_ARRAY) ? value : rb_check_array_type(value);
    const bool is_struct = NIL_P(point) && RTEST(rb_obj_is_kind_of(value, rb_cStruct));
    if (is_struct) {
        point = value;
    } else if (NIL_P(point)) {
        rb_check_type(value, T_ARRAY);
    }
    const long size = is_struct ? NUM2LONG(rb_struct_size(point)) : RARRAY_LEN(point);
    if (size < 2) {
        if (index < 0) rb_raise(rb_eArgError, "%s must have two coordinates", what);
        rb_raise(rb_eArgError, "%s %ld must have two coordinates", what, index);
    }
    out->x = to_double(point_element(point, is_struct, 0));
    // The conversion of x may have changed the point: y is read as it is now.
    out->y = to_double(point_element(point, is_struct, 1));
}

// Checks the arguments and converts every coordinate, in the order given.
void read_input(VALUE cities, VALUE robot, CallInput* input) {
    cities = to_array(cities);
    const long count = RARRAY_LEN(cities);
    if (count > MAX_CITIES) rb_raise(too_many_cities_class, "too many cities");
    // rb_ary_entry gives nil past the end, so an array shrunk by a conversion's
    // own Ruby code raises a TypeError instead of being read out of bounds.
    for (long i = 0; i < count; ++i) read_point(rb_ary_entry(cities, i), &input->cities[i], "city", i);
    input->count = static_cast<int>(count);
    read_point(robot, &input->robot, "robot", -1);
}

// The report destination a call names (nil for none), `fallback` when it names
// none; raises TypeError for anything that cannot be written to.
VALUE report_destination(VALUE report, VALUE fallback) {
    if (report == Qundef) return fallback;
    if (!RTEST(report)) return Qnil;
    if (!rb_respond_to(report, id_write)) {
        rb_raise(rb_eTypeError, "report: must be nil, false or respond to write (given %s)", rb_obj_classname(report));
    }
    return report;
}

// The kicks an improve: value asks for: -1 for none (nil, false or absent),
// the default budget for true, or a whole number of kicks.
int improvement_kicks(VALUE improve) {
    if (improve == Qundef || !RTEST(improve)) return -1;
    if (improve == Qtrue) return corvelanth::DEFAULT_KICKS;
    if (!RB_INTEGER_TYPE_P(improve)) {
        rb_raise(rb_eTypeError, "improve: must be true, false, nil or a number of kicks (given %s)",
                 rb_obj_classname(improve));
    }
    const long kicks = RB_FIXNUM_P(improve) ? FIX2LONG(improve) : -1;
    if (kicks < 0 || kicks > MAX_KICKS) {
        rb_raise(rb_eArgError, "improve: must be from 0 to %ld kicks (given %" PRIsVALUE ")", MAX_KICKS, improve);
    }
    return static_cast<int>(kicks);
}

// One solve as the thread without the lock runs it.
struct SolveCall {
    ThreadState* state;
    const CallInput* input;
    bool with_report;
    int kicks;  // the improvement's budget; -1 for the fixed pipeline alone
    Outcome outcome;
    long report_size;
};

// Solves and, when asked, formats the report; runs without the interpreter lock.
void* solve_without_lock(void* data) {
    auto* call = static_cast<SolveCall*>(data);
    corvelanth::Workspace& ws = call->state->ws;
    const CallInput& input = *call->input;
    call->outcome = corvelanth::solve_route(ws, input.cities, input.count, input.robot);
    if (call->kicks >= 0 && !call->outcome.seed_failed) {
        corvelanth::improve_route(ws.distance, ws.lists.route, call->outcome.route_len, {call->kicks}, ws.improvement);
    }
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

// A finished solve's results as Ruby objects, made before anything is written.
struct SolveResult {
    VALUE order;
    VALUE report_text;
    Outcome outcome;
    double travel;
    VALUE unplaced;
};

// Parses (cities, robot, report: ...) and solves; plan (`planning`) also
// takes improve:. For plan it writes nothing unless report: is given and works
// out the Route's travel and unplaced cities; for solve the report goes to
// $stdout by default and the diagnostics always go to $stderr. Raises the
// gem's errors for too many cities and for a route that cannot be started.
SolveResult solve_call(int argc, VALUE* argv, bool planning) {
    VALUE cities, robot, keywords[2] = {Qundef, Qundef};
    if (argc == 2 && !rb_keyword_given_p()) {  // the usual call: no keyword to parse
        cities = argv[0];
        robot = argv[1];
    } else {
        VALUE options;
        rb_scan_args(argc, argv, "2:", &cities, &robot, &options);
        const ID names[2] = {id_report, id_improve};
        if (!NIL_P(options)) rb_get_kwargs(options, names, 0, planning ? 2 : 1, keywords);
    }
    const VALUE report = keywords[0];
    const int kicks = improvement_kicks(keywords[1]);
    const VALUE destination = report_destination(report, planning ? Qnil : rb_ractor_stdout());
    const bool diagnose = !planning || report != Qundef;

    CallInput input;
    read_input(cities, robot, &input);

    // From here until the lock is taken back, no Ruby code runs and nothing
    // else uses this thread's state.
    SolveCall call{&thread_state(), &input, !NIL_P(destination), kicks, Outcome{}, 0};
    if (input.count < UNLOCKED_MIN_CITIES && kicks < 0) {
        solve_without_lock(&call);
    } else {
        rb_thread_call_without_gvl(solve_without_lock, &call, nullptr, nullptr);
    }
    const Outcome& outcome = call.outcome;
    if (outcome.seed_failed) {
        if (diagnose) write_text(rb_ractor_stderr(), diagnostics_text(outcome));
        rb_raise(unreachable_class, "no city can be reached from the robot");
    }

    const corvelanth::Workspace& ws = call.state->ws;
    SolveResult result{rb_ary_new_capa(outcome.route_len), Qnil, outcome, 0.0, Qnil};
    for (int p = 0; p < outcome.route_len; ++p) rb_ary_push(result.order, INT2FIX(ws.lists.route[p]));
    if (planning) {
        result.travel = corvelanth::route_travel(ws, outcome.route_len);
        int unplaced[corvelanth::TABLE_SLOTS];
        const int count = ws.lists.pending_count;
        std::copy(ws.lists.pending, ws.lists.pending + count, unplaced);
        std::sort(unplaced, unplaced + count);
        result.unplaced = rb_ary_new_capa(count);
        for (int k = 0; k < count; ++k) rb_ary_push(result.unplaced, INT2FIX(unplaced[k]));
    }
    if (!NIL_P(destination)) result.report_text = rb_str_new(call.state->report, call.report_size);

    // The state may be reused from here on: the writes can run any Ruby code.
    if (diagnose && outcome.no_position_count > 0) write_text(rb_ractor_stderr(), diagnostics_text(outcome));
    if (!NIL_P(destination)) {
        write_text(destination, result.report_text);
        // Handed over now, as a write to the C library's stdout with a flush
        // was: a failure raises here, and output stays in order on any stream.
        if (rb_respond_to(destination, id_flush)) rb_funcall(destination, id_flush, 0);
    }
    return result;
}

/*
 * call-seq:
 *   Corvelanth.solve(cities, robot, report: $stdout) -> Array of Integer
 *
 * Plans an open route from +robot+ through +cities+ and returns the node
 * indices in visiting order: the robot's node (cities.size) first, then the
 * cities, 0-based in the given order.
 *
 * +cities+:: an Array (or anything with to_ary) of at most MAX_CITIES points.
 * +robot+:: the robot's point.
 * +report+:: where the run report goes: any object with write; nil or false
 *            for none. By default $stdout as it is at the time of the call.
 *
 * A point is an Array (or anything with to_ary) whose elements 0 and 1 are
 * its x and y, or a Struct whose first two members are; further elements
 * are ignored. Coordinates convert with to_f.
 *
 * The report is written with one report.write and then flushed where the
 * destination has flush; the solver's diagnostics go to $stderr, before it.
 *
 * Raises TypeError or ArgumentError for bad arguments,
 * Corvelanth::TooManyCitiesError above MAX_CITIES cities,
 * Corvelanth::UnreachableError when no city is closer than 30000 to the
 * robot, and whatever the destination's write raises.
 */
VALUE solve_method(int argc, VALUE* argv, VALUE self) {
    return solve_call(argc, argv, false).order;
}

/*
 * call-seq:
 *   Corvelanth.plan(cities, robot, report: nil, improve: false) -> Corvelanth::Route
 *
 * Plans the same route as Corvelanth.solve, quietly, and returns it as a
 * Corvelanth::Route: the visiting order, the route's travel length and the
 * cities left out.
 *
 * +cities+:: an Array (or anything with to_ary) of at most MAX_CITIES points.
 * +robot+:: the robot's point.
 * +report+:: where to write the run report, as Corvelanth.solve does
 *            (diagnostics to $stderr included); by default nothing is written.
 * +improve+:: true to shorten the route further by local search (a few
 *             milliseconds at 200 cities), or the search's budget as a whole
 *             number of kicks (true means 1200); false or nil for the fixed
 *             heuristic's route. The improved route starts at the robot,
 *             visits the same cities and is never longer; the same input and
 *             budget give the same route on every machine.
 *
 * Raises as Corvelanth.solve does, and TypeError or ArgumentError for an
 * improve: that is neither a boolean nor a number of kicks up to 10,000,000.
 */
VALUE plan_method(int argc, VALUE* argv, VALUE self) {
    const SolveResult result = solve_call(argc, argv, true);
    VALUE route = rb_obj_alloc(route_class);
    rb_ivar_set(route, id_order, rb_obj_freeze(result.order));
    rb_ivar_set(route, id_travel, DBL2NUM(result.travel));
    rb_ivar_set(route, id_unplaced, rb_obj_freeze(result.unplaced));
    return rb_obj_freeze(route);
}

// The three values of a route, in order.
VALUE route_values(VALUE route) {
    return rb_ary_new_from_args(3, rb_ivar_get(route, id_order), rb_ivar_get(route, id_travel),
                                rb_ivar_get(route, id_unplaced));
}

/*
 * call-seq:
 *   route.to_a -> Array of Integer
 *
 * The visiting order, as #order gives it.
 */
VALUE route_to_a(VALUE self) {
    return rb_ivar_get(self, id_order);
}

/*
 * call-seq:
 *   route.to_h -> Hash
 *
 * The route as {order:, travel:, unplaced:}.
 */
VALUE route_to_h(VALUE self) {
    VALUE hash = rb_hash_new();
    rb_hash_aset(hash, ID2SYM(rb_intern("order")), rb_ivar_get(self, id_order));
    rb_hash_aset(hash, ID2SYM(rb_intern("travel")), rb_ivar_get(self, id_travel));
    rb_hash_aset(hash, ID2SYM(rb_intern("unplaced")), rb_ivar_get(self, id_unplaced));
    return hash;
}

/*
 * call-seq:
 *   route.deconstruct_keys(keys) -> Hash
 *
 * The route's values for pattern matching: <code>in {order:, travel:}</code>.
 */
VALUE route_deconstruct_keys(VALUE self, VALUE keys) {
    return route_to_h(self);
}

/*
 * call-seq:
 *   route == other -> true or false
 *
 * True when +other+ is a Route with the same order, travel and unplaced cities.
 */
VALUE route_equal(VALUE self, VALUE other) {
    if (!rb_obj_is_kind_of(other, route_class)) return Qfalse;
    return rb_equal(route_values(self), route_values(other));
}

/*
 * call-seq:
 *   route.eql?(other) -> true or false
 *
 * As #==, with the values compared by eql?.
 */
VALUE route_eql(VALUE self, VALUE other) {
    if (!rb_obj_is_kind_of(other, route_class)) return Qfalse;
    return rb_eql(route_values(self), route_values(other)) ? Qtrue : Qfalse;
}

/*
 * call-seq:
 *   route.hash -> Integer
 *
 * A hash code consistent with #eql?.
 */
VALUE route_hash(VALUE self) {
    return rb_hash(route_values(self));
}

/*
 * call-seq:
 *   route.inspect -> String
 *
 * Shows the route's values.
 */
VALUE route_inspect(VALUE self) {
    return rb_sprintf("#<Corvelanth::Route order=%" PRIsVALUE " travel=%" PRIsVALUE " unplaced=%" PRIsVALUE ">",
                      rb_inspect(rb_ivar_get(self, id_order)), rb_inspect(rb_ivar_get(self, id_travel)),
                      rb_inspect(rb_ivar_get(self, id_unplaced)));
}

}  // namespace

extern "C" {
RUBY_FUNC_EXPORTED void Init_Corvelanth(void) {
    // Every call works on its own thread's state and its own Ruby objects.
    rb_ext_ractor_safe(true);
    // The solver reads CORVELANTH_SIMD once; reading it here, with the lock
    // held, keeps getenv away from a Ruby thread's setenv.
    corvelanth::simd_path();
    id_write = rb_intern("write");
    id_flush = rb_intern("flush");
    id_report = rb_intern("report");
    id_improve = rb_intern("improve");
    id_order = rb_intern("@order");
    id_travel = rb_intern("@travel");
    id_unplaced = rb_intern("@unplaced");

    /*
     * Plans a short open route for a robot through up to MAX_CITIES cities in
     * the plane. See Corvelanth.solve and Corvelanth.plan.
     */
    solver_class = rb_define_class("Corvelanth", rb_cObject);
    /* The largest number of cities a call accepts. */
    rb_define_const(solver_class, "MAX_CITIES", INT2FIX(MAX_CITIES));

    /* The base of the errors the gem raises of its own. */
    error_class = rb_define_class_under(solver_class, "Error", rb_eRuntimeError);
    /* More than MAX_CITIES cities were given. */
    too_many_cities_class = rb_define_class_under(solver_class, "TooManyCitiesError", error_class);
    /* No city is closer than 30000 to the robot, so no route can be started. */
    unreachable_class = rb_define_class_under(solver_class, "UnreachableError", error_class);

    /*
     * A planned route, as Corvelanth.plan returns it: a frozen value, equal
     * to another Route with the same values.
     */
    route_class = rb_define_class_under(solver_class, "Route", rb_cObject);
    rb_undef_method(CLASS_OF(route_class), "new");
    /* The node indices in visiting order, as Corvelanth.solve returns them (frozen). */
    rb_define_attr(route_class, "order", 1, 0);
    /* The open route's length, a Float: the run report's travel, bit for bit. */
    rb_define_attr(route_class, "travel", 1, 0);
    /* The indices of the cities left out, ascending (frozen); usually empty. */
    rb_define_attr(route_class, "unplaced", 1, 0);
    rb_define_method(route_class, "to_a", RUBY_METHOD_FUNC(route_to_a), 0);
    rb_define_method(route_class, "to_h", RUBY_METHOD_FUNC(route_to_h), 0);
    rb_define_method(route_class, "deconstruct_keys", RUBY_METHOD_FUNC(route_deconstruct_keys), 1);
    rb_define_method(route_class, "==", RUBY_METHOD_FUNC(route_equal), 1);
    rb_define_method(route_class, "eql?", RUBY_METHOD_FUNC(route_eql), 1);
    rb_define_method(route_class, "hash", RUBY_METHOD_FUNC(route_hash), 0);
    rb_define_method(route_class, "inspect", RUBY_METHOD_FUNC(route_inspect), 0);

    rb_define_singleton_method(solver_class, "solve", RUBY_METHOD_FUNC(solve_method), -1);
    rb_define_singleton_method(solver_class, "plan", RUBY_METHOD_FUNC(plan_method), -1);
}
}
