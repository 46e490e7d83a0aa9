// Run report: the input coordinates, the route with its coordinates and the
// route's length, as plain text.
#ifndef CORVELANTH_RUN_REPORT_H
#define CORVELANTH_RUN_REPORT_H

#include <cstdio>

namespace corvelanth {

// Longest text append_fixed4 writes: a sign, 309 integer digits, the point
// and four decimals (DBL_MAX).
constexpr int FIXED4_MAX_CHARS = 315;

// Writes `value` exactly as printf's "%.4f" does (also "%3.4f": the width
// never pads) and returns the end; no terminator.
char* append_fixed4(char* out, double value);

// Writes the report of the last solve of `count` cities whose route has
// `len` entries to `out`, in as few writes as the buffer allows.
void write_run_report(std::FILE* out, int count, int len);

}  // namespace corvelanth

#endif
