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
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
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
VALUE error_class = Qnil;
VALUE too_many_cities_class = Qnil;
VALUE unreachable_class = Qnil;
VALUE key_x = Qnil;  // "x" and "y", frozen, as Hash keys
VALUE key_y = Qnil;
ID id_write;
ID id_flush;
ID id_owned;
ID id_report;
ID id_thorough;
ID id_to_f;
ID id_x;
ID id_y;
// Each Ractor's locks over report writes, by destination (see write_report),
// made when the Ractor first writes a report.
rb_ractor_local_key_t report_locks_key;
ID id_compare_by_identity;

// Coordinates of one call, converted before the solver sees any of them.
struct CallInput {
    int count;
    Point cities[MAX_CITIES];
    Point robot;
};

// What one thread keeps between its calls: the solver's workspace and the
// text of the last report. `in_use` while a plan's block runs on the thread
// with the search paused in the workspace.
struct ThreadState {
    corvelanth::Workspace ws;
    char report[corvelanth::REPORT_MAX_CHARS];
    bool in_use;
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

// The kicks an improve: value asks for: -1 for none (nil or false), the
// default budget for true, the thorough one for :thorough, or a whole number.
int plan_kicks(VALUE improve) {
    if (!RTEST(improve)) return -1;
    if (SYMBOL_P(improve)) {
        if (SYM2ID(improve) == id_thorough) return corvelanth::THOROUGH_KICKS;
        rb_raise(rb_eArgError,
                 "improve: must be true, false, nil, :thorough or a number of kicks (given %" PRIsVALUE ")", improve);
    }
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

// Writes and flushes one report; `args` is [destination, text, ...].
VALUE write_and_flush(VALUE args) {
    const VALUE destination = rb_ary_entry(args, 0);
    write_text(destination, rb_ary_entry(args, 1));
    if (rb_respond_to(destination, id_flush)) rb_funcall(destination, id_flush, 0);
    return Qnil;
}

// Writes and flushes one report holding its destination's lock, or straight
// away when this thread holds it already: a destination whose write method
// writes a report to itself; `args` is [destination, text, lock, table, entry].
VALUE write_locked(VALUE args) {
    const VALUE lock = rb_ary_entry(args, 2);
    if (RTEST(rb_funcall(lock, id_owned, 0))) return write_and_flush(args);
    return rb_mutex_synchronize(lock, write_and_flush, args);
}

// Drops a writer from its destination's entry, and the entry from the table
// once no thread writes or waits there; `args` as for write_locked.
VALUE release_lock_entry(VALUE args) {
    const VALUE entry = rb_ary_entry(args, 4);
    const long writers = FIX2LONG(rb_ary_entry(entry, 1)) - 1;
    if (writers == 0) {
        rb_hash_delete(rb_ary_entry(args, 3), rb_ary_entry(args, 0));
    } else {
        rb_ary_store(entry, 1, LONG2FIX(writers));
    }
    return Qnil;
}

// Writes a report to its destination and hands it over there: a failure
// raises here, and output stays in order on any stream, as a write to the C
// library's stdout with a flush did. Reports to one destination are written
// one at a time, under a lock of its own: a buffered IO may split a long
// write, and another thread's report could land inside it. A thread whose
// write method writes a report to the same destination goes straight
// through. Each Ractor keeps the locks in a table by the destination's
// identity, with an entry [lock, writers] only while some thread writes or
// waits there, so the table holds no destination longer than its writes.
// (A weak map would need no count, but weak maps crash Ractors on Ruby 3.1.)
//
// Any method call may hand the interpreter to another thread. So a writer
// counts itself into the entry before it calls one: an entry looked up but
// not yet counted could be dropped meanwhile, and its lock would then guard
// nothing against the writer of a new entry.
void write_report(VALUE destination, VALUE text) {
    VALUE table = rb_ractor_local_storage_value(report_locks_key);
    if (NIL_P(table)) {
        const VALUE made = rb_hash_new();
        rb_funcall(made, id_compare_by_identity, 0);
        // Another thread may have made the table during that call.
        table = rb_ractor_local_storage_value(report_locks_key);
        if (NIL_P(table)) {
            table = made;
            rb_ractor_local_storage_value_set(report_locks_key, table);
        }
    }
    VALUE entry = rb_hash_lookup(table, destination);
    if (NIL_P(entry)) {
        entry = rb_ary_new_from_args(2, rb_mutex_new(), INT2FIX(0));
        rb_hash_aset(table, destination, entry);
    }
    const VALUE args = rb_ary_new_from_args(5, destination, text, rb_ary_entry(entry, 0), table, entry);
    rb_ary_store(entry, 1, LONG2FIX(FIX2LONG(rb_ary_entry(entry, 1)) + 1));
    rb_ensure(write_locked, args, release_lock_entry, args);
}

// The diagnostics of an outcome, as the solver's messages read.
VALUE diagnostics_text(const Outcome& outcome) {
    if (outcome.seed_failed) return rb_str_new_cstr("Too few city.\nError.\n");
    static const char line[] = "No position.\n";
    VALUE text = rb_str_buf_new((sizeof line - 1) * outcome.no_position_count);
    for (int k = 0; k < outcome.no_position_count; ++k) rb_str_cat(text, line, sizeof line - 1);
    return text;
}

// The route list's first `len` nodes as an Array of Integers.
VALUE order_array(const int* route, int len) {
    VALUE order = rb_ary_new_capa(len);
    for (int p = 0; p < len; ++p) rb_ary_push(order, INT2FIX(route[p]));
    return order;
}

// Parses (cities, robot, report: $stdout) and solves: the report goes to the
// destination and the diagnostics to $stderr. Returns the visiting order;
// raises the gem's errors for too many cities and for a route that cannot
// be started.
VALUE solve_call(int argc, VALUE* argv) {
    VALUE cities, robot, report = Qundef;
    if (argc == 2 && !rb_keyword_given_p()) {  // the usual call: no keyword to parse
        cities = argv[0];
        robot = argv[1];
    } else {
        VALUE options;
        rb_scan_args(argc, argv, "2:", &cities, &robot, &options);
        if (!NIL_P(options)) rb_get_kwargs(options, &id_report, 0, 1, &report);
    }
    const VALUE destination = report_destination(report, rb_ractor_stdout());

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
    if (outcome.seed_failed) {
        write_text(rb_ractor_stderr(), diagnostics_text(outcome));
        rb_raise(unreachable_class, "no city can be reached from the robot");
    }
    const VALUE order = order_array(call.state->ws.lists.route, outcome.route_len);
    const VALUE text = NIL_P(destination) ? Qnil : rb_str_new(call.state->report, call.report_size);

    // The state may be reused from here on: the writes can run any Ruby code.
    if (outcome.no_position_count > 0) write_text(rb_ractor_stderr(), diagnostics_text(outcome));
    if (!NIL_P(destination)) write_report(destination, text);
    return order;
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
    return solve_call(argc, argv);
}

// ---------------------------------------------------------------------------
// Corvelanth.plan's native half. lib/corvelanth/plan.rb takes the keywords
// and wraps what this returns in a Corvelanth::Route.

// How long the search runs between two calls of plan's block.
constexpr auto PROGRESS_INTERVAL = std::chrono::milliseconds(100);
// How long the search runs before the thread looks for interrupts with the
// lock held. A signal reaches a thread without the lock only through its
// unblocking function, which the interpreter calls from the signal handler
// only while a single thread lives; the rest see it here.
constexpr auto INTERRUPT_INTERVAL = std::chrono::milliseconds(5);

// A point's name in messages: "city 3", "robot" or "finish".
struct PointName {
    char text[24];
};

// The name of city `index`, or of the robot or finish for a negative index.
PointName point_name(const char* what, long index) {
    PointName name;
    if (index < 0) {
        std::snprintf(name.text, sizeof name.text, "%s", what);
    } else {
        std::snprintf(name.text, sizeof name.text, "%s %ld", what, index);
    }
    return name;
}

// A coordinate of a point for plan: as to_double reads it, but a String, nil,
// a boolean or an object without to_f raises a TypeError naming the point.
double plan_coordinate(VALUE value, const PointName& name, const char* axis) {
    if (RB_FLOAT_TYPE_P(value)) return RFLOAT_VALUE(value);
    if (RB_FIXNUM_P(value)) return static_cast<double>(FIX2LONG(value));
    if (RB_TYPE_P(value, T_STRING)) {
        rb_raise(rb_eTypeError,
                 "%s: %s is a String (%" PRIsVALUE "), not a number; convert numbers read from text first", name.text,
                 axis, rb_inspect(value));
    }
    if (NIL_P(value) || value == Qtrue || value == Qfalse) {
        rb_raise(rb_eTypeError, "%s: %s is %" PRIsVALUE ", not a number", name.text, axis, rb_inspect(value));
    }
    // The class, not inspect: an object's own inspect may be missing or raise.
    if (!rb_respond_to(value, id_to_f)) {
        rb_raise(rb_eTypeError, "%s: %s is a %s, not a number", name.text, axis, rb_obj_classname(value));
    }
    return rb_num2dbl(value);
}

// Reads a point for plan: an Array or anything with to_ary (elements 0 and
// 1), a Struct (its first two members), a Hash with :x and :y or "x" and "y",
// or an object that responds to x and y. When the route travels on given
// costs (`labels`), anything else names a node without a place, at (0, 0).
void read_plan_point(VALUE value, Point* out, const PointName& name, bool labels) {
    VALUE x, y;
    const VALUE array = RB_TYPE_P(value, T_ARRAY) ? value : rb_check_array_type(value);
    if (!NIL_P(array) || RTEST(rb_obj_is_kind_of(value, rb_cStruct))) {
        const bool is_struct = NIL_P(array);
        const VALUE point = is_struct ? value : array;
        const long size = is_struct ? NUM2LONG(rb_struct_size(point)) : RARRAY_LEN(point);
        if (size < 2) rb_raise(rb_eArgError, "%s must have two coordinates", name.text);
        out->x = plan_coordinate(point_element(point, is_struct, 0), name, "x");
        // The conversion of x may have changed the point: y is read as it is now.
        out->y = plan_coordinate(point_element(point, is_struct, 1), name, "y");
        return;
    }
    if (RB_TYPE_P(value, T_HASH)) {
        x = rb_hash_lookup2(value, ID2SYM(id_x), Qundef);
        if (x == Qundef) x = rb_hash_lookup2(value, key_x, Qundef);
        y = rb_hash_lookup2(value, ID2SYM(id_y), Qundef);
        if (y == Qundef) y = rb_hash_lookup2(value, key_y, Qundef);
        if (x == Qundef || y == Qundef) {
            rb_raise(rb_eArgError, "%s: a Hash point needs the keys :x and :y (or \"x\" and \"y\")", name.text);
        }
        out->x = plan_coordinate(x, name, "x");
        out->y = plan_coordinate(y, name, "y");
        return;
    }
    if (rb_respond_to(value, id_x) && rb_respond_to(value, id_y)) {
        out->x = plan_coordinate(rb_funcall(value, id_x, 0), name, "x");
        out->y = plan_coordinate(rb_funcall(value, id_y, 0), name, "y");
        return;
    }
    if (labels) {
        *out = Point{0.0, 0.0};
        return;
    }
    rb_raise(rb_eTypeError, "%s: a point is [x, y], a Hash with :x and :y, or an object with x and y (given %s)",
             name.text, rb_obj_classname(value));
}

// Everything a plan call reads from its arguments, in plain storage.
struct PlanInput {
    int count;
    Point cities[MAX_CITIES];
    Point robot;
    bool has_finish;
    Point finish;
    const double* costs;  // node_count x node_count, or null
    int kicks;            // -1: the fixed steps alone
    bool has_deadline;
    std::chrono::steady_clock::time_point deadline;
};

// Reads `costs` into `out` (node_count x node_count, row after row), with the
// diagonal zero and unread; raises ArgumentError naming the row and column
// of a wrong size, an entry that is not a finite number >= 0, or an
// asymmetric pair, and TypeError for an entry that is no number at all.
void read_costs(VALUE costs, int node_count, double* out) {
    costs = to_array(costs);
    if (RARRAY_LEN(costs) != node_count) {
        rb_raise(rb_eArgError, "costs must have %d rows, one for each node (cities, robot%s), not %ld", node_count,
                 node_count > 0 ? ", finish if given" : "", RARRAY_LEN(costs));
    }
    for (int i = 0; i < node_count; ++i) {
        // rb_ary_entry gives nil past the end of a list a conversion shrank.
        const VALUE row = to_array(rb_ary_entry(costs, i));
        if (RARRAY_LEN(row) != node_count) {
            rb_raise(rb_eArgError, "costs[%d] must have %d entries, not %ld", i, node_count, RARRAY_LEN(row));
        }
        double* target = out + static_cast<long>(i) * node_count;
        for (int j = 0; j < node_count; ++j) {
            if (j == i) {
                target[j] = 0.0;
                continue;
            }
            const VALUE entry = rb_ary_entry(row, j);
            double value;
            if (RB_FLOAT_TYPE_P(entry)) {
                value = RFLOAT_VALUE(entry);
            } else if (RB_FIXNUM_P(entry)) {
                value = static_cast<double>(FIX2LONG(entry));
            } else if (RTEST(rb_obj_is_kind_of(entry, rb_cNumeric))) {
                value = rb_num2dbl(entry);
            } else if (RB_TYPE_P(entry, T_STRING) || NIL_P(entry) || entry == Qtrue || entry == Qfalse) {
                rb_raise(rb_eTypeError, "costs[%d][%d] is %" PRIsVALUE ", not a number", i, j, rb_inspect(entry));
            } else {
                rb_raise(rb_eTypeError, "costs[%d][%d] is a %s, not a number", i, j, rb_obj_classname(entry));
            }
            if (!(value >= 0.0) || !std::isfinite(value)) {
                rb_raise(rb_eArgError, "costs[%d][%d] is %" PRIsVALUE ": costs must be finite and at least 0", i, j,
                         DBL2NUM(value));
            }
            target[j] = value;
        }
    }
    for (int i = 0; i < node_count; ++i) {
        for (int j = i + 1; j < node_count; ++j) {
            const double a = out[static_cast<long>(i) * node_count + j];
            const double b = out[static_cast<long>(j) * node_count + i];
            if (a != b) {
                rb_raise(rb_eArgError,
                         "costs[%d][%d] is %" PRIsVALUE " but costs[%d][%d] is %" PRIsVALUE ": costs must be symmetric",
                         i, j, DBL2NUM(a), j, i, DBL2NUM(b));
            }
        }
    }
}

// The deadline a time_limit: value sets from `start`; false for nil.
bool plan_deadline(VALUE limit, std::chrono::steady_clock::time_point start,
                   std::chrono::steady_clock::time_point* deadline) {
    if (NIL_P(limit)) return false;
    if (!RTEST(rb_obj_is_kind_of(limit, rb_cNumeric))) {
        rb_raise(rb_eTypeError, "time_limit: must be a number of seconds (given %s)", rb_obj_classname(limit));
    }
    const double seconds = rb_num2dbl(limit);
    if (!(seconds > 0.0)) {
        rb_raise(rb_eArgError, "time_limit: must be a positive number of seconds (given %" PRIsVALUE ")", limit);
    }
    // Beyond a day the limit cannot end a search the budget has not ended.
    const double capped = seconds < 86400.0 ? seconds : 86400.0;
    *deadline =
        start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(capped));
    return true;
}

// One plan call as the thread without the lock runs it, in slices.
struct PlanCall {
    ThreadState* state;
    const PlanInput* input;
    bool with_report;
    bool sliced;  // a block waits for the best route between slices
    bool started;
    bool done;
    std::chrono::steady_clock::time_point next_progress;  // when the block is next due
    std::atomic<bool> stop;                               // set by the interpreter to take the thread back
    Outcome outcome;
    long report_size;
    VALUE cities;  // the Array the cities were read from, for the block's routes
};

// The travel and legs of a finished route are read from the workspace; this
// formats the report when one is wanted.
void finish_plan(PlanCall& call) {
    corvelanth::Workspace& ws = call.state->ws;
    const PlanInput& input = *call.input;
    if (call.input->kicks >= 0 && !call.outcome.seed_failed) {
        corvelanth::end_improvement(ws.distance, ws.lists.route, ws.improvement);
    }
    call.report_size = 0;
    if (call.with_report && !call.outcome.seed_failed) {
        char* end = corvelanth::write_plan_report(ws, input.count, input.has_finish, call.outcome.route_len,
                                                  call.state->report);
        call.report_size = end - call.state->report;
    }
    call.done = true;
}

// Runs the next slice of a plan: the fixed steps and the search's start on
// the first, then kicks until the budget, the deadline, the next progress
// call or a stop request; runs without the interpreter lock.
void* plan_without_lock(void* data) {
    auto* call = static_cast<PlanCall*>(data);
    corvelanth::Workspace& ws = call->state->ws;
    const PlanInput& input = *call->input;
    if (!call->started) {
        call->started = true;
        corvelanth::Problem problem{input.cities, input.count, input.robot};
        if (input.has_finish) problem.finish = &input.finish;
        problem.costs = input.costs;
        call->outcome = corvelanth::plan_route(ws, problem);
        if (input.kicks < 0 || call->outcome.seed_failed) {
            finish_plan(*call);
            return nullptr;
        }
        // Given costs need not be straight lines between the places.
        corvelanth::begin_improvement(ws.distance, ws.lists.route, call->outcome.route_len, input.has_finish,
                                      {input.kicks}, ws.improvement, input.costs ? nullptr : ws.points);
        call->next_progress = std::chrono::steady_clock::now() + PROGRESS_INTERVAL;
    }
    corvelanth::SearchLimits limits;
    limits.stop = &call->stop;
    const auto now = std::chrono::steady_clock::now();
    limits.until = now + INTERRUPT_INTERVAL;
    if (input.has_deadline && input.deadline < limits.until) limits.until = input.deadline;
    const bool spent = corvelanth::run_improvement(ws.improvement, limits);
    if (spent || (input.has_deadline && std::chrono::steady_clock::now() >= input.deadline)) finish_plan(*call);
    return nullptr;
}

// Asks a running slice to return: the interpreter calls this to interrupt the thread.
void stop_plan(void* data) {
    static_cast<PlanCall*>(data)->stop.store(true, std::memory_order_relaxed);
}

// [order, travel, unplaced, legs] of route[0..len-1], as the Route is made of:
// the legs are distance[route[p-1]][route[p]] for p = 1..len-1, and travel
// is their sum in that order, as route_travel sums it.
VALUE route_values(const corvelanth::Workspace& ws, const int* route, int len, VALUE unplaced) {
    VALUE legs = rb_ary_new_capa(len > 0 ? len - 1 : 0);
    double travel = 0.0;
    for (int p = 1; p < len; ++p) {
        const double leg = ws.distance[route[p - 1]][route[p]];
        travel += leg;
        rb_ary_push(legs, DBL2NUM(leg));
    }
    return rb_ary_new_from_args(4, order_array(route, len), DBL2NUM(travel), unplaced, legs);
}

// Yields the best route so far to plan's block, with the thread's state
// marked in use so that a plan the block makes has a state of its own.
VALUE yield_progress(VALUE data) {
    auto* call = reinterpret_cast<PlanCall*>(data);
    const corvelanth::Workspace& ws = call->state->ws;
    int route[corvelanth::TABLE_SLOTS];
    corvelanth::best_improved_route(ws.distance, ws.improvement, route);
    call->state->in_use = true;
    VALUE values = route_values(ws, route, call->outcome.route_len, rb_ary_new());
    rb_ary_push(values, call->cities);
    return rb_yield(values);
}

// Marks the thread's state free again, however the block ended.
VALUE release_state(VALUE data) {
    reinterpret_cast<PlanCall*>(data)->state->in_use = false;
    return Qnil;
}

// A separate state for a plan made from inside another plan's block on the
// same thread; the collector frees it.
const rb_data_type_t nested_state_type = {
    "Corvelanth nested state",   {nullptr, RUBY_TYPED_DEFAULT_FREE, nullptr, nullptr, {nullptr}}, nullptr, nullptr,
    RUBY_TYPED_FREE_IMMEDIATELY,
};

/*
 * Native half of Corvelanth.plan, private: the arguments in order, with
 * +report+ nil for none. Returns [order, travel, unplaced, legs, cities],
 * cities being the Array the cities were read from, and yields the same for
 * the best route so far to a block, about every PROGRESS_INTERVAL of search.
 */
VALUE native_plan(VALUE self, VALUE cities, VALUE robot, VALUE finish, VALUE costs, VALUE improve, VALUE time_limit,
                  VALUE report) {
    const auto start = std::chrono::steady_clock::now();
    PlanInput input;
    input.kicks = plan_kicks(improve);
    input.has_deadline = plan_deadline(time_limit, start, &input.deadline);
    // Without improve:, a deadline searches up to the largest budget.
    if (input.kicks < 0 && input.has_deadline) input.kicks = static_cast<int>(MAX_KICKS);
    const VALUE destination = report_destination(report, Qnil);

    cities = to_array(cities);
    const long count = RARRAY_LEN(cities);
    if (count > MAX_CITIES) rb_raise(too_many_cities_class, "too many cities");
    const bool labels = !NIL_P(costs);
    for (long i = 0; i < count; ++i) {
        read_plan_point(rb_ary_entry(cities, i), &input.cities[i], point_name("city", i), labels);
    }
    input.count = static_cast<int>(count);
    read_plan_point(robot, &input.robot, point_name("robot", -1), labels);
    input.has_finish = !NIL_P(finish);
    if (input.has_finish) read_plan_point(finish, &input.finish, point_name("finish", -1), labels);
    input.costs = nullptr;
    VALUE costs_holder = Qnil;
    if (!NIL_P(costs)) {
        const int node_count = input.count + (input.has_finish ? 2 : 1);
        // Owned by a Ruby object, so that a raise during the reading frees it.
        double* buffer = ALLOCV_N(double, costs_holder, static_cast<size_t>(node_count) * node_count);
        read_costs(costs, node_count, buffer);
        input.costs = buffer;
    }

    // A block that plans again on this thread must not share this state.
    volatile VALUE state_holder = Qnil;
    ThreadState* state = &thread_state();
    if (state->in_use) {
        ThreadState* nested;
        state_holder = TypedData_Make_Struct(rb_cObject, ThreadState, &nested_state_type, nested);
        state = nested;
    }
    const bool sliced = rb_block_given_p();
    PlanCall call{state, &input, !NIL_P(destination), sliced, false, false, {}, {false}, Outcome{}, 0, cities};
    if (input.count < UNLOCKED_MIN_CITIES && input.kicks < 0) {
        plan_without_lock(&call);
    }
    while (!call.done) {
        call.stop.store(false, std::memory_order_relaxed);
        // An interrupt (Ctrl-C, Thread#raise, Thread#kill, Timeout) stops the
        // slice and raises here once the lock is back.
        // stop_plan only stores to an atomic flag, which is safe in a signal
        // handler: Ctrl-C then reaches a lone main thread at once.
        rb_nogvl(plan_without_lock, &call, stop_plan, &call, RB_NOGVL_UBF_ASYNC_SAFE);
        if (!call.done && sliced && std::chrono::steady_clock::now() >= call.next_progress) {
            rb_ensure(yield_progress, reinterpret_cast<VALUE>(&call), release_state, reinterpret_cast<VALUE>(&call));
            call.next_progress = std::chrono::steady_clock::now() + PROGRESS_INTERVAL;
        }
    }
    const Outcome& outcome = call.outcome;
    const bool diagnose = !NIL_P(destination);
    if (outcome.seed_failed) {
        if (diagnose) write_text(rb_ractor_stderr(), diagnostics_text(outcome));
        rb_raise(unreachable_class, "no city can be reached from the robot");
    }

    const corvelanth::Workspace& ws = state->ws;
    int unplaced[corvelanth::TABLE_SLOTS];
    const int unplaced_count = ws.lists.pending_count;
    std::copy(ws.lists.pending, ws.lists.pending + unplaced_count, unplaced);
    std::sort(unplaced, unplaced + unplaced_count);
    VALUE unplaced_list = rb_ary_new_capa(unplaced_count);
    for (int k = 0; k < unplaced_count; ++k) rb_ary_push(unplaced_list, INT2FIX(unplaced[k]));
    VALUE values = route_values(ws, ws.lists.route, outcome.route_len, unplaced_list);
    rb_ary_push(values, cities);
    const VALUE text = NIL_P(destination) ? Qnil : rb_str_new(state->report, call.report_size);
    if (input.costs) ALLOCV_END(costs_holder);
    RB_GC_GUARD(state_holder);

    // The state may be reused from here on: the writes can run any Ruby code.
    if (diagnose && outcome.no_position_count > 0) write_text(rb_ractor_stderr(), diagnostics_text(outcome));
    if (!NIL_P(destination)) write_report(destination, text);
    return values;
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
    id_owned = rb_intern("owned?");
    id_report = rb_intern("report");
    id_thorough = rb_intern("thorough");
    id_to_f = rb_intern("to_f");
    id_x = rb_intern("x");
    id_y = rb_intern("y");
    report_locks_key = rb_ractor_local_storage_value_newkey();
    id_compare_by_identity = rb_intern("compare_by_identity");
    key_x = rb_obj_freeze(rb_str_new_cstr("x"));
    rb_gc_register_mark_object(key_x);
    key_y = rb_obj_freeze(rb_str_new_cstr("y"));
    rb_gc_register_mark_object(key_y);

    /*
     * Plans a short route for a robot through up to MAX_CITIES cities in the
     * plane. See Corvelanth.solve and Corvelanth.plan.
     */
    solver_class = rb_define_class("Corvelanth", rb_cObject);
    /* The largest number of cities a call accepts. */
    rb_define_const(solver_class, "MAX_CITIES", INT2FIX(MAX_CITIES));
    /* The budget, in kicks, that improve: true stands for. */
    rb_define_const(solver_class, "DEFAULT_KICKS", INT2FIX(corvelanth::DEFAULT_KICKS));

    /* The base of the errors the gem raises of its own. */
    error_class = rb_define_class_under(solver_class, "Error", rb_eRuntimeError);
    /* More than MAX_CITIES cities were given. */
    too_many_cities_class = rb_define_class_under(solver_class, "TooManyCitiesError", error_class);
    /* No city is closer than 30000 to the robot, so no route can be started. */
    unreachable_class = rb_define_class_under(solver_class, "UnreachableError", error_class);

    rb_define_singleton_method(solver_class, "solve", RUBY_METHOD_FUNC(solve_method), -1);
    rb_define_private_method(rb_singleton_class(solver_class), "native_plan", RUBY_METHOD_FUNC(native_plan), 7);
}
}
