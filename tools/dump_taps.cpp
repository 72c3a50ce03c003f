// dump_taps: prints the reflection tap table the filter is compiled with, one tap per line, for plots.
//
//   dump_taps
//
// Columns: tap number, delay in samples, delay in milliseconds at 44100 frames per second, level in dB
// (20 log10 |c|), sign (+1 or -1), and the coefficient itself with enough digits to read it back exactly.
// It reads the same constexpr tables as the filter, so a picture drawn from it cannot drift from the
// table.
#include <cmath>
#include <cstdio>

#include "taps.h"

int main() {
    std::printf("# tap delay_samples delay_ms level_db sign coefficient\n");
    for (std::size_t tap = 0; tap < varno::TAP_COUNT; ++tap) {
        const int delay = varno::REFLECTION_DELAYS[tap];
        const double c = static_cast<double>(varno::REFLECTION_COEFFICIENTS[tap]);
        std::printf("%2zu %5d %9.4f %9.3f %+d %.9g\n", tap, delay, delay / 44.1, 20.0 * std::log10(std::fabs(c)),
                    c < 0.0 ? -1 : 1, c);
    }
    return 0;
}
