// The settings store's cost per call: one accessor is an open (or create),
// a key information query, one value query and a close on the registry hive.
// Target: one accessor under 20 us median, and no slower while another
// process holds the hive's write lock (readers never wait for writers).
#include <memory>

#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "child.h"
#include "device/device.h"
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

// Another process in the middle of a long write, holding the write lock.
std::unique_ptr<testing_support::Child> hold_write_lock()
{
    return std::make_unique<testing_support::Child>([] {
        sqlite3* db = nullptr;
        if (sqlite3_open(wince::device::registry_file().c_str(), &db) != SQLITE_OK ||
            sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
            _exit(1);
    });
}

void OneAccessorWhileAnotherProcessWrites(benchmark::State& state)
{
    testing_support::TempDevice device;
    AppSettings settings;
    settings.SetRegularSoundDelay(3);
    const auto writer = hold_write_lock();
    for (auto _ : state)
        benchmark::DoNotOptimize(settings.GetRegularSoundDelay());
}

// A process's first read: it opens its own connection to the hive (fork
// and exit included), with and without another process holding the lock.
void FirstReadOfAProcess(benchmark::State& state)
{
    testing_support::TempDevice device;
    AppSettings().SetRegularSoundDelay(3);
    const auto writer = state.range(0) ? hold_write_lock() : nullptr;
    for (auto _ : state)
        benchmark::DoNotOptimize(testing_support::exit_code_in_child([] {
            return static_cast<int>(AppSettings().GetRegularSoundDelay());
        }));
}

} // namespace

BENCHMARK(OneAccessorWhileAnotherProcessWrites)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(FirstReadOfAProcess)->Arg(0)->Arg(1)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(OneAccessor)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(AllSevenSettings)->Repetitions(9)->ReportAggregatesOnly(true);
BENCHMARK(OneWrite)->Repetitions(5)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
