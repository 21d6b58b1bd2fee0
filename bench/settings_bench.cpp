// The settings store's cost per call: one accessor is an open (or create),
// a key information query, one value query and a close on the registry hive.
// Target: one accessor under 20 us median.
#include <benchmark/benchmark.h>

#include "settings.h"
#include "test_device.h"

namespace {

void OneAccessor(benchmark::State& state)
{
    testing_support::TempDevice device;
    AppSettings settings;
    settings.SetRegularSoundDelay(3);
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.GetRegularSoundDelay());
}

void AllSevenSettings(benchmark::State& state)
{
    testing_support::TempDevice device;
    {
        AppSettings settings;
        settings.SetEnabled(1);
        settings.SetOnSoundType(SignalSound);
        settings.SetOffSoundType(SignalVibrate);
        settings.SetRegularSoundType(SignalSound);
        settings.SetRegularSoundDelay(7);
        settings.SetRegularSoundBefore(5);
        settings.SetTurnOffScr(1);
    }
    for (auto _ : state) {
        AppSettings settings;
        benchmark::DoNotOptimize(settings.GetEnabled());
        benchmark::DoNotOptimize(settings.GetOnSoundType());
        benchmark::DoNotOptimize(settings.GetOffSoundType());
        benchmark::DoNotOptimize(settings.GetRegularSoundType());
        benchmark::DoNotOptimize(settings.GetRegularSoundDelay());
        benchmark::DoNotOptimize(settings.GetRegularSoundBefore());
        benchmark::DoNotOptimize(settings.GetTurnOffScr());
    }
}

void OneWrite(benchmark::State& state)
{
    testing_support::TempDevice device;
    AppSettings settings;
    int value = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.SetRegularSoundDelay(value++ % 9));
}

} // namespace

BENCHMARK(OneAccessor)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(AllSevenSettings)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(OneWrite)->Repetitions(5)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
