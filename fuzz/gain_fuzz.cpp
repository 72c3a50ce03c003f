// Fuzz target: the gain text's grammar against a small reference of its own.
//
// The reference is written apart from read_gain: a state machine over the characters finds how long the
// decimal prefix is (white space, sign, digits with one optional point, an exponent only when a digit
// follows its 'e' and sign), and the C library's strtod, in the "C" locale this process never leaves,
// converts exactly that prefix to a double; the double is then narrowed to a float. read_gain must give the
// same float bit for bit, and call it out of range exactly when the float is infinite.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "wav.h"

namespace {

enum class State { space, sign, integer, point, fraction, exponent_mark, exponent_sign, exponent };

// Returns the offsets [begin, end) of the decimal prefix after white space, or begin == end when the
// text has no number in front.
void scan_decimal(const char* text, std::size_t& begin, std::size_t& end) {
    State state = State::space;
    std::size_t accepted = 0;  // end of the longest prefix that is a whole number
    begin = 0;
    for (std::size_t i = 0;; ++i) {
        const char c = text[i];
        const bool digit = c >= '0' && c <= '9';
        switch (state) {
            case State::space:
                if (c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr) {
                    begin = i + 1;
                    continue;
                }
                if (c == '+' || c == '-') state = State::sign;
                else if (digit) state = State::integer;
                else if (c == '.') state = State::point;
                else break;
                if (digit) accepted = i + 1;
                continue;
            case State::sign:
                if (digit) {
                    state = State::integer;
                    accepted = i + 1;
                } else if (c == '.') {
                    state = State::point;
                } else {
                    break;
                }
                continue;
            case State::integer:
                if (digit) accepted = i + 1;
                else if (c == '.') {
                    state = State::fraction;
                    accepted = i + 1;
                } else if (c == 'e' || c == 'E') state = State::exponent_mark;
                else break;
                continue;
            case State::point:  // a point with no digit before it needs one after it
                if (!digit) break;
                state = State::fraction;
                accepted = i + 1;
                continue;
            case State::fraction:
                if (digit) accepted = i + 1;
                else if (c == 'e' || c == 'E') state = State::exponent_mark;
                else break;
                continue;
            case State::exponent_mark:
                if (c == '+' || c == '-') state = State::exponent_sign;
                else if (digit) {
                    state = State::exponent;
                    accepted = i + 1;
                } else break;
                continue;
            case State::exponent_sign:
                if (!digit) break;
                state = State::exponent;
                accepted = i + 1;
                continue;
            case State::exponent:
                if (!digit) break;
                accepted = i + 1;
                continue;
        }
        break;
    }
    end = accepted > begin ? accepted : begin;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // read up to the first NUL
    std::size_t begin = 0;
    std::size_t end = 0;
    scan_decimal(text.c_str(), begin, end);

    float want = 0.0f;
    if (end > begin) {
        const std::string prefix = text.substr(begin, end - begin);
        char* stop = nullptr;
        const double value = std::strtod(prefix.c_str(), &stop);
        if (stop != prefix.c_str() + prefix.size()) {
            std::fprintf(stderr, "reference scanner and strtod disagree on \"%s\"\n", prefix.c_str());
            std::abort();
        }
        want = static_cast<float>(value);
    }

    const varno::GainReading got = varno::read_gain(text.c_str());
    if (std::bit_cast<std::uint32_t>(got.gain) != std::bit_cast<std::uint32_t>(want) ||
        got.in_range != std::isfinite(want)) {
        std::fprintf(stderr, "gain text \"%s\": read_gain gives %a (%s), the reference %a\n", text.c_str(),
                     static_cast<double>(got.gain), got.in_range ? "in range" : "out of range",
                     static_cast<double>(want));
        std::abort();
    }
    return 0;
}
