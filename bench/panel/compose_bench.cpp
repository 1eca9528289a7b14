// What one telegram costs: our composition (clock read, three input readings, formatting and
// checksum) beside a bare snprintf of the same line, so the ratio shows the cost over the floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "Quarvel1/telegram.h"

namespace {

void BM_ComposeTelegram(benchmark::State& state) {
    const quarvel::Clock clock = quarvel::local_wall_clock;
    for (auto _ : state) {
        std::string line = quarvel::compose_telegram_from_inputs(clock, "12.5", "-3", "40",
                                                                 quarvel::ReferenceFrame::Bow);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_ComposeTelegram);

// The same without the wall clock, to tell the clock's share from the formatting's.
void BM_ComposeTelegramFixedClock(benchmark::State& state) {
    const quarvel::Clock clock = [] { return quarvel::LocalTime{14, 5, 9, 123}; };
    for (auto _ : state) {
        std::string line = quarvel::compose_telegram_from_inputs(clock, "12.5", "-3", "40",
                                                                 quarvel::ReferenceFrame::Bow);
        benchmark::DoNotOptimize(line);
    }
}
BENCHMARK(BM_ComposeTelegramFixedClock);

// The floor: the same line printed by snprintf into a fixed buffer from ready numbers, with the
// checksum already known; no clock, no reading.
void BM_BareSnprintf(benchmark::State& state) {
    char buffer[100];
    double time = 140509.123, x = 12.5, y = -3, z = 40;
    for (auto _ : state) {
        benchmark::DoNotOptimize(time);
        benchmark::DoNotOptimize(x);
        const int n =
            std::snprintf(buffer, sizeof buffer,
                          "$PXTQSSB,%09.2lf,B31,A,ExD,C,H,F,%.2lf,%.2lf,%.2lf,8.42,N,,*%02X\r\n",
                          time, x, y, z, 0x32);
        benchmark::DoNotOptimize(n);
        benchmark::DoNotOptimize(buffer);
    }
}
BENCHMARK(BM_BareSnprintf);

}  // namespace

BENCHMARK_MAIN();
