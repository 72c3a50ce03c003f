// The reflection tap table: 90 delayed, weighted copies of a channel's own past input that model the
// reflections of an ancient theatre. Taps 0-13 are the strong early reflections; taps 14-89 are a regular
// train of faint late reflections, 119 samples apart from 600 to 9525 samples back.
//
// Each row gives the delay in samples (frames at 44.1 kHz) and the exact IEEE-754 bit pattern of the
// coefficient. The decimal in the comment is the six-digit value the pattern is the nearest float to;
// the bits, not the decimal, are the coefficient. Rows are in tap order, which is also the order the
// filter sums them in.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace varno {

struct TapRow {
    std::int32_t delay;
    std::uint32_t coefficient_bits;
};

inline constexpr TapRow TAP_ROWS[] = {
    // delay, coefficient bits      tap: coefficient
    { 186, 0xBF4E25B7u}, //  0: -0.805263
    { 212, 0xBD92A257u}, //  1: -0.0715987
    { 225, 0xBEBE42E1u}, //  2: -0.371604
    { 251, 0xBF7372D6u}, //  3: -0.950971
    { 263, 0xBEA69271u}, //  4: -0.325336
    { 302, 0x3E9EDC3Cu}, //  5: 0.310274
    { 315, 0xBEFB05B8u}, //  6: -0.490278
    { 354, 0xBECEFE50u}, //  7: -0.404284
    { 367, 0xBDBD8D37u}, //  8: -0.0925545
    { 380, 0x3F43A616u}, //  9: 0.764253
    { 432, 0xBF175DDDu}, // 10: -0.591276
    { 458, 0xBF800000u}, // 11: -1.0
    { 484, 0x3E1F223Au}, // 12: 0.155404
    { 588, 0x3EB74257u}, // 13: 0.357928
    { 600, 0x35F50A3Bu}, // 14: 1.82569e-06
    { 719, 0x36122786u}, // 15: 2.17787e-06
    { 838, 0x34CAE2DEu}, // 16: 3.77905e-07
    { 957, 0xB4A21C1Bu}, // 17: -3.01953e-07
    {1076, 0xB55BBC52u}, // 18: -8.18579e-07
    {1195, 0x37353B86u}, // 19: 1.08023e-05
    {1314, 0x368703AAu}, // 20: 4.02374e-06
    {1433, 0x3535B868u}, // 21: 6.76961e-07
    {1552, 0xB6777900u}, // 22: -3.68763e-06
    {1671, 0xB68141F9u}, // 23: -3.85218e-06
    {1790, 0xB60C0B77u}, // 24: -2.08683e-06
    {1909, 0xB6AB271Cu}, // 25: -5.10075e-06
    {2028, 0x35711EB8u}, // 26: 8.98242e-07
    {2147, 0x346AFE21u}, // 27: 2.18854e-07
    {2266, 0xB4903534u}, // 28: -2.68608e-07
    {2385, 0xB522C5D7u}, // 29: -6.06376e-07
    {2504, 0x3539AEFBu}, // 30: 6.91725e-07
    {2623, 0x360BFACDu}, // 31: 2.08586e-06
    {2742, 0xB5B8CA7Du}, // 32: -1.3768e-06
    {2861, 0x3580E26Bu}, // 33: 9.60264e-07
    {2980, 0xB598C499u}, // 34: -1.13821e-06
    {3099, 0xB560805Eu}, // 35: -8.36333e-07
    {3218, 0xB4727ADAu}, // 36: -2.25827e-07
    {3337, 0x34675818u}, // 37: 2.15456e-07
    {3456, 0xB2BF4D21u}, // 38: -2.22704e-08
    {3575, 0xB539A912u}, // 39: -6.91639e-07
    {3694, 0xB4E60CBBu}, // 40: -4.28501e-07
    {3813, 0xB4E5F727u}, // 41: -4.28344e-07
    {3932, 0xB43AF9DDu}, // 42: -1.74135e-07
    {4051, 0x33121702u}, // 43: 3.40142e-08
    {4170, 0x34CAEF3Du}, // 44: 3.77995e-07
    {4289, 0xB4D51C1Eu}, // 45: -3.96948e-07
    {4408, 0xB49C4BC7u}, // 46: -2.91124e-07
    {4527, 0xB53303EBu}, // 47: -6.66884e-07
    {4646, 0xB5FE7C78u}, // 48: -1.89607e-06
    {4765, 0xB5AC7D6Bu}, // 49: -1.28515e-06
    {4884, 0xB308968Fu}, // 50: -3.18019e-08
    {5003, 0xB40FAAAAu}, // 51: -1.338e-07
    {5122, 0xB462E054u}, // 52: -2.11295e-07
    {5241, 0xB4D97939u}, // 53: -4.05076e-07
    {5360, 0xB34E4AA5u}, // 54: -4.8031e-08
    {5479, 0xB3DD52EFu}, // 55: -1.03062e-07
    {5598, 0xB3A7BE5Cu}, // 56: -7.81117e-08
    {5717, 0x33F7DB2Bu}, // 57: 1.15417e-07
    {5836, 0xB3CF6AE1u}, // 58: -9.65863e-08
    {5955, 0xB5299A45u}, // 59: -6.31819e-07
    {6074, 0xB46CD778u}, // 60: -2.20576e-07
    {6193, 0x33E57F4Eu}, // 61: 1.06868e-07
    {6312, 0xB42E9CECu}, // 62: -1.62621e-07
    {6431, 0xB3B09AD2u}, // 63: -8.2238e-08
    {6550, 0xB529AA25u}, // 64: -6.3205e-07
    {6669, 0xB51B3DFCu}, // 65: -5.78322e-07
    {6788, 0xB4E41454u}, // 66: -4.24831e-07
    {6907, 0xB4D2D164u}, // 67: -3.92679e-07
    {7026, 0xB49F2C50u}, // 68: -2.96483e-07
    {7145, 0xB5090889u}, // 69: -5.10489e-07
    {7264, 0xB4554C7Fu}, // 70: -1.9865e-07
    {7383, 0xB4614CCEu}, // 71: -2.09827e-07
    {7502, 0xB472F52Cu}, // 72: -2.26272e-07
    {7621, 0x331B1D15u}, // 73: 3.61152e-08
    {7740, 0xB3901CF5u}, // 74: -6.71079e-08
    {7859, 0xB389D13Du}, // 75: -6.41762e-08
    {7978, 0xB480AC68u}, // 76: -2.39673e-07
    {8097, 0xB4058BF1u}, // 77: -1.24375e-07
    {8216, 0xB416F256u}, // 78: -1.4058e-07
    {8335, 0xB504EB58u}, // 79: -4.95163e-07
    {8454, 0xB4F21F0Bu}, // 80: -4.50986e-07
    {8573, 0x33A9E51Bu}, // 81: 7.91135e-08
    {8692, 0xB3F3B7CAu}, // 82: -1.1349e-07
    {8811, 0xB46564EBu}, // 83: -2.1364e-07
    {8930, 0xB47F7BA0u}, // 84: -2.37937e-07
    {9049, 0xB4052C02u}, // 85: -1.24026e-07
    {9168, 0x3416B3F0u}, // 86: 1.40353e-07
    {9287, 0xB48F28ECu}, // 87: -2.66656e-07
    {9406, 0xB4927559u}, // 88: -2.728e-07
    {9525, 0x32741A86u}, // 89: 1.42087e-08
};

inline constexpr std::size_t TAP_COUNT = std::size(TAP_ROWS);
inline constexpr std::size_t EARLY_TAP_COUNT = 14;
inline constexpr std::int32_t LATE_TRAIN_START = 600;
inline constexpr std::int32_t LATE_TRAIN_SPACING = 119;

// Ring of past input per channel, and where a fresh ring starts writing.
inline constexpr std::int32_t RING_LENGTH = 16000;
inline constexpr std::int32_t RING_START = 8000;

inline constexpr std::array<float, TAP_COUNT> REFLECTION_COEFFICIENTS = [] {
    std::array<float, TAP_COUNT> table{};
    for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
        table[tap] = std::bit_cast<float>(TAP_ROWS[tap].coefficient_bits);
    }
    return table;
}();

inline constexpr std::array<std::int32_t, TAP_COUNT> REFLECTION_DELAYS = [] {
    std::array<std::int32_t, TAP_COUNT> table{};
    for (std::size_t tap = 0; tap < TAP_COUNT; ++tap) {
        table[tap] = TAP_ROWS[tap].delay;
    }
    return table;
}();

inline constexpr std::int32_t MAX_DELAY = REFLECTION_DELAYS[TAP_COUNT - 1];
inline constexpr std::int32_t MIN_DELAY = REFLECTION_DELAYS[0];

namespace detail {

constexpr bool delays_rise() {
    for (std::size_t tap = 1; tap < TAP_COUNT; ++tap) {
        if (REFLECTION_DELAYS[tap] <= REFLECTION_DELAYS[tap - 1]) return false;
    }
    return true;
}

constexpr bool late_train_is_regular() {
    for (std::size_t tap = EARLY_TAP_COUNT; tap < TAP_COUNT; ++tap) {
        const auto step = static_cast<std::int32_t>(tap - EARLY_TAP_COUNT);
        if (REFLECTION_DELAYS[tap] != LATE_TRAIN_START + LATE_TRAIN_SPACING * step) return false;
    }
    return true;
}

}  // namespace detail

static_assert(TAP_COUNT == 90, "the theatre model has 90 reflections");
static_assert(REFLECTION_DELAYS[EARLY_TAP_COUNT - 1] < LATE_TRAIN_START, "early taps precede the late train");
static_assert(detail::delays_rise(), "taps are listed by rising delay");
static_assert(detail::late_train_is_regular(), "late train is 600 + 119 x (tap - 14)");
static_assert(MIN_DELAY > 0, "a sample never feeds its own tap sum");
static_assert(MAX_DELAY < RING_LENGTH, "the ring keeps every sample a tap still needs");
static_assert(RING_START >= 0 && RING_START < RING_LENGTH, "the write index starts inside the ring");

}  // namespace varno
