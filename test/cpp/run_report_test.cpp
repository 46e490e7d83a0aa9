// The report formatter against the C library's printf, number by number and
// report by report.
#include "run_report.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "oracle_solver.h"
#include "test_support.h"

namespace {

using namespace corvelanth;

std::string printf_fixed4(double value) {
    char text[FIXED4_MAX_CHARS + 8];
    const int size = std::snprintf(text, sizeof text, "%3.4f", value);
    return std::string(text, static_cast<size_t>(size));
}

std::string fixed4(double value) {
    char text[FIXED4_MAX_CHARS];
    return std::string(text, append_fixed4(text, value));
}

double from_bits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TEST(Fixed4, MatchesPrintfOnAdversarialValues) {
    const double values[] = {
        0.0,
        -0.0,
        0.00005,
        -0.00005,
        0.00015,
        0.00025,
        0.000049999999999999996,
        0.5,
        1.00005,
        2.00015,
        0.12345,
        1.23456,
        41.54215,
        999.99995,
        9999.99995,
        -9999.99995,
        1e-5,
        -1e-5,
        1e-300,
        -1e-300,
        DBL_MIN,
        DBL_TRUE_MIN,
        -DBL_TRUE_MIN,
        DBL_EPSILON,
        1e15 + 0.3,
        4503599627370495.5,
        9007199254740993.0,
        1e16,
        1e22,
        1e23,
        1e300,
        -1e300,
        DBL_MAX,
        -DBL_MAX,
        29999.99995,
        30000.0,
        123456789.00005,
        HUGE_VAL,
        -HUGE_VAL,
        std::nan(""),
        -std::nan(""),
        from_bits(0x7ff0000000000001ULL),
        from_bits(0xfff8000000000123ULL),
        1.0 / 3.0,
        2.0 / 3.0,
        0.00004999,
        0.99995,
        0.99994999,
        // Either side of 2^39, where exact integer rounding hands over to to_chars.
        std::ldexp(1.0, 39),
        std::nextafter(std::ldexp(1.0, 39), 0.0),
        -std::nextafter(std::ldexp(1.0, 39), 0.0),
        std::ldexp(1.0, 39) + 0.5,
        std::ldexp(1.0, -14),
        std::ldexp(3.0, -15),
        std::ldexp(1.0, -1074) * 3,
    };
    for (double value : values) EXPECT_EQ(fixed4(value), printf_fixed4(value)) << "bits of " << value;
}

TEST(Fixed4, RoundsExactHalfwayCasesToEvenLikePrintf) {
    // A double exactly halfway between two four-decimal results is an odd
    // multiple of 1/32, since 2 * 10^4 = 2^5 * 5^4.
    EXPECT_EQ(fixed4(1.0 / 32), "0.0312");
    EXPECT_EQ(fixed4(3.0 / 32), "0.0938");
    EXPECT_EQ(fixed4(-1.0 / 32), "-0.0312");
    for (int k = 0; k < 4096; ++k) {
        for (double whole : {0.0, 1024.0, 1099511627776.0}) {
            const double value = whole + (2 * k + 1) / 32.0;
            ASSERT_EQ(fixed4(value), printf_fixed4(value));
            ASSERT_EQ(fixed4(-value), printf_fixed4(-value));
        }
    }
}

TEST(Fixed4, MatchesPrintfOnRandomBitPatternsAndMagnitudes) {
    std::mt19937_64 rng(6);
    for (int t = 0; t < 200000; ++t) {
        const double any = from_bits(rng());
        ASSERT_EQ(fixed4(any), printf_fixed4(any)) << std::hexfloat << any;
        // Magnitudes a report usually shows, with every low bit in play.
        const double usual = std::ldexp(static_cast<double>(rng() >> 11), -53 + static_cast<int>(rng() % 70) - 20);
        ASSERT_EQ(fixed4(usual), printf_fixed4(usual)) << std::hexfloat << usual;
    }
}

// The report of the solve in `ws` as `write` formats it.
template <typename Write>
std::string report_text(Write write, const Workspace& ws, int count, int len) {
    static char text[REPORT_MAX_CHARS + 1];
    const char* end = write(ws, count, len, text);
    return std::string(static_cast<const char*>(text), end);
}

void expect_same_report(const Workspace& ws, int count, int len) {
    EXPECT_EQ(report_text(write_run_report, ws, count, len), report_text(oracle::write_run_report, ws, count, len));
}

TEST(RunReport, FiveCityExample) {
    auto ws = test_support::new_workspace();
    const Point cities[] = {{7, 2}, {19, 11}, {4, 14}, {3, 12}, {0, 20}};
    const int len = solve_route(*ws, cities, 5, {2, 14}).route_len;
    const std::string text = report_text(write_run_report, *ws, 5, len);
    EXPECT_NE(text.find("  0th\tc5\t2.0000 14.0000\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 15), "travel\t41.5421\n");
    expect_same_report(*ws, 5, len);
}

TEST(RunReport, LongestCoordinatesFitTheBuffer) {
    // Every number prints with over 300 digits: the longest report there is.
    auto ws = test_support::new_workspace();
    for (int i = 0; i < MAX_CITIES; ++i) ws->points[i] = {-DBL_MAX / (i + 1), -DBL_MAX / (i + 2)};
    ws->points[MAX_CITIES] = {-DBL_MAX, -DBL_MAX};
    for (int p = 0; p <= MAX_CITIES; ++p) ws->lists.route[p] = MAX_CITIES - p;
    const std::string text = report_text(write_run_report, *ws, MAX_CITIES, MAX_CITIES + 1);
    EXPECT_GT(text.size(), 250000u);
    EXPECT_LE(text.size(), static_cast<size_t>(REPORT_MAX_CHARS));
    expect_same_report(*ws, MAX_CITIES, MAX_CITIES + 1);
}

TEST(RunReport, FailedSolveHasNoRouteLines) {
    auto ws = test_support::new_workspace();
    const Point city{40000, 0};
    EXPECT_TRUE(solve_route(*ws, &city, 1, {0, 0}).seed_failed);
    EXPECT_EQ(report_text(write_run_report, *ws, 1, 0),
              "[Corvelanth]\ncities\n\tc0\t40000.0000 0.0000\n\trob\t0.0000 0.0000\nresult\ntravel\t0.0000\n");
}

}  // namespace
