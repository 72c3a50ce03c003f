// The gain argument: decimal text to a double, then narrowed to a float.
//
// The grammar is the plain decimal one: white space, sign, digits with an optional point, and an
// exponent that counts only when digits follow its 'e' and optional sign. The scan finds where that
// prefix ends and std::from_chars (locale-free, correctly rounded) converts exactly that prefix, so
// "0x10" reads as 0, "inf" and "nan" read as no number at all, and trailing junk is ignored.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "wav.h"

namespace varno {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The white space of the "C" locale, which is what the decimal conversion skips.
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

GainReading read_gain(const char* text) {
    const char* p = text;
    while (is_space(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const char* const number = p;

    // Decimal position of the leading nonzero digit, relative to the point, so an out-of-range result can
    // be told apart as overflow (the number is huge) or underflow (it is tiny).
    std::int64_t leading_exponent = 0;
    bool seen_nonzero = false;
    std::int64_t digits = 0;
    while (is_digit(*p)) {
        if (seen_nonzero || *p != '0') {
            seen_nonzero = true;
            ++leading_exponent;
        }
        ++digits;
        ++p;
    }
    if (*p == '.') {
        ++p;
        while (is_digit(*p)) {
            if (!seen_nonzero) {
                if (*p != '0') seen_nonzero = true;
                else --leading_exponent;
            }
            ++digits;
            ++p;
        }
    }
    if (digits == 0) return {0.0f, true};  // no number in front

    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool exponent_negative = false;
        if (*q == '+' || *q == '-') {
            exponent_negative = *q == '-';
            ++q;
        }
        if (is_digit(*q)) {
            std::int64_t exponent = 0;
            while (is_digit(*q)) {
                if (exponent < 1'000'000'000) exponent = exponent * 10 + (*q - '0');
                ++q;
            }
            leading_exponent += exponent_negative ? -exponent : exponent;
            p = q;
        }
    }

    double magnitude = 0.0;
    const auto [end, error] = std::from_chars(number, p, magnitude, std::chars_format::general);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        if (seen_nonzero && leading_exponent > 0) return {negative ? -HUGE_VALF : HUGE_VALF, false};
        magnitude = 0.0;  // underflow: the nearest double is zero
    } else if (error != std::errc{}) {
        return {0.0f, true};
    }
    const double value = negative ? -magnitude : magnitude;
    const auto gain = static_cast<float>(value);
    return {gain, std::isfinite(gain)};
}

}  // namespace varno
