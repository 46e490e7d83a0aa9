// Run report formatting into a caller's buffer. Numbers of ordinary size are
// rounded in exact integer arithmetic; the rest go through std::to_chars.
// Each node's coordinates are formatted once: the route lines copy the text
// that the city lines wrote.
#include "run_report.h"

#include <charconv>
#include <cstdint>
#include <cstring>

#include "workspace.h"

namespace corvelanth {
namespace {

// Appends a literal of known length.
char* append_text(char* out, const char* text, std::size_t size) {
    std::memcpy(out, text, size);
    return out + size;
}

// Appends a non-negative integer in decimal. Written out rather than with
// the integer to_chars, whose digit table would be exported from the extension.
char* append_unsigned(char* out, std::uint64_t value) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) *out++ = digits[--count];
    return out;
}

// Appends an integer as "%d" writes it.
char* append_int(char* out, int value) {
    if (value < 0) *out++ = '-';
    return append_unsigned(out, value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value));
}

// Appends a point as "%3.4f %3.4f" writes it.
char* append_pair(char* out, const Point& point) {
    out = append_fixed4(out, point.x);
    *out++ = ' ';
    return append_fixed4(out, point.y);
}

}  // namespace

char* append_fixed4(char* out, double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased_exponent = static_cast<int>((bits >> 52) & 0x7ff);
    // Magnitudes from 2^39 up, infinities and NaN: the general conversion.
    if (biased_exponent >= 1023 + 39) {
        return std::to_chars(out, out + FIXED4_MAX_CHARS, value, std::chars_format::fixed, 4).ptr;
    }
    // Below 2^39, |value| = mantissa * 2^-(shift + 4) exactly, with shift >= 10,
    // so |value| * 10^4 = (mantissa * 625) * 2^-shift, and mantissa * 625 < 2^63:
    // the exact product, then a right shift rounded half to even, which is
    // how printf rounds the exact binary value.
    std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
    if (biased_exponent != 0) mantissa |= std::uint64_t{1} << 52;
    const int shift = 1075 - (biased_exponent != 0 ? biased_exponent : 1) - 4;
    const std::uint64_t product = mantissa * 625;
    std::uint64_t scaled = 0;  // shifts of 64 and more leave less than half a unit
    if (shift < 64) {
        scaled = product >> shift;
        const std::uint64_t rest = product & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
    }
    if ((bits >> 63) != 0) *out++ = '-';  // also for -0 and what rounds to zero
    out = append_unsigned(out, scaled / 10000);
    const unsigned fraction = static_cast<unsigned>(scaled % 10000);
    out[0] = '.';
    out[1] = static_cast<char>('0' + fraction / 1000);
    out[2] = static_cast<char>('0' + fraction / 100 % 10);
    out[3] = static_cast<char>('0' + fraction / 10 % 10);
    out[4] = static_cast<char>('0' + fraction % 10);
    return out + 5;
}

char* write_run_report(const Workspace& ws, int city_count, int route_len, char* out) {
    return write_plan_report(ws, city_count, false, route_len, out);
}

char* write_plan_report(const Workspace& ws, int city_count, bool has_finish, int route_len, char* out) {
    // Where each node's "x y" text stands in the buffer, once written.
    const char* pair_text[TABLE_SLOTS];
    int pair_size[TABLE_SLOTS];
    char* cursor = append_text(out, "[Corvelanth]\ncities\n", 20);
    for (int i = 0; i < city_count; ++i) {
        cursor = append_text(cursor, "\tc", 2);
        cursor = append_int(cursor, i);
        *cursor++ = '\t';
        pair_text[i] = cursor;
        cursor = append_pair(cursor, ws.points[i]);
        pair_size[i] = static_cast<int>(cursor - pair_text[i]);
        *cursor++ = '\n';
    }
    cursor = append_text(cursor, "\trob\t", 5);
    pair_text[city_count] = cursor;
    cursor = append_pair(cursor, ws.points[city_count]);
    pair_size[city_count] = static_cast<int>(cursor - pair_text[city_count]);
    if (has_finish) {
        const int finish = city_count + 1;
        cursor = append_text(cursor, "\n\tfin\t", 6);
        pair_text[finish] = cursor;
        cursor = append_pair(cursor, ws.points[finish]);
        pair_size[finish] = static_cast<int>(cursor - pair_text[finish]);
    }
    cursor = append_text(cursor, "\nresult\n", 8);
    for (int p = 0; p < route_len; ++p) {
        const int node = ws.lists.route[p];
        cursor = append_text(cursor, "  ", 2);
        cursor = append_int(cursor, p);
        cursor = append_text(cursor, "th\tc", 4);
        cursor = append_int(cursor, node);
        *cursor++ = '\t';
        cursor = append_text(cursor, pair_text[node], static_cast<std::size_t>(pair_size[node]));
        *cursor++ = '\n';
    }
    cursor = append_text(cursor, "travel\t", 7);
    cursor = append_fixed4(cursor, route_travel(ws, route_len));
    *cursor++ = '\n';
    return cursor;
}

}  // namespace corvelanth
