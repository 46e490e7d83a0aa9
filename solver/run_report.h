// Run report: the input coordinates, the route with its coordinates and the
// route's length, as plain text in a caller's buffer.
#ifndef CORVELANTH_RUN_REPORT_H
#define CORVELANTH_RUN_REPORT_H

#include "route_solver.h"

namespace corvelanth {

// Longest text append_fixed4 writes: a sign, 309 integer digits, the point
// and four decimals (DBL_MAX).
constexpr int FIXED4_MAX_CHARS = 315;
// Longest report line: "  200th\tc200\t", two numbers, a space and a newline.
constexpr int REPORT_LINE_MAX_CHARS = 32 + 2 * FIXED4_MAX_CHARS;
// Longest report: two header lines, the cities, the robot, a finish,
// "result", the route's positions (a finish included) and the travel line.
constexpr int REPORT_MAX_CHARS = (2 + MAX_CITIES + 3 + (MAX_CITIES + 2) + 1) * REPORT_LINE_MAX_CHARS;

// Writes `value` exactly as printf's "%.4f" does (also "%3.4f": the width
// never pads) and returns the end; no terminator.
char* append_fixed4(char* out, double value);

// Writes the report of the solve of `city_count` cities in `ws`, whose route
// has `route_len` entries, to `out`, which has room for REPORT_MAX_CHARS, and
// returns the end; no terminator.
char* write_run_report(const Workspace& ws, int city_count, int route_len, char* out);
// As write_run_report, with the finish (node city_count + 1) listed after the
// robot as "fin" when `has_finish`.
char* write_plan_report(const Workspace& ws, int city_count, bool has_finish, int route_len, char* out);

}  // namespace corvelanth

#endif
