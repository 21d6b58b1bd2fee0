// The monitor's resources as its script builds them: the two generated
// sounds with their exact layout, and the high-resolution marker.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>

#include "../../monitor/resource.h"
#include "resources/module.h"

namespace {

struct Wave {
    const unsigned char* image = nullptr;
    DWORD size = 0;

    uint32_t u32(size_t at) const { return image[at] | image[at + 1] << 8 | image[at + 2] << 16 | uint32_t{image[at + 3]} << 24; }
    uint16_t u16(size_t at) const { return static_cast<uint16_t>(image[at] | image[at + 1] << 8); }
    std::string tag(size_t at) const { return {reinterpret_cast<const char*>(image + at), 4}; }

    std::vector<double> samples() const
    {
        std::vector<double> out;
        for (size_t at = 44; at + 1 < size; at += 2)
            out.push_back(static_cast<int16_t>(u16(at)) / 32768.0);
        return out;
    }
};

HINSTANCE monitor_module()
{
    static const HINSTANCE module = wince::resources::load_module_file(MONITOR_RES_FILE);
    return module;
}

Wave wave_resource(UINT id)
{
    const HINSTANCE module = monitor_module();
    const HRSRC found = FindResourceW(module, MAKEINTRESOURCE(id), L"WAVE");
    if (!found)
        return {};
    return {static_cast<const unsigned char*>(LoadResource(module, found)), SizeofResource(module, found)};
}

// Strength of one frequency in a stretch of samples (Goertzel).
double strength(const std::vector<double>& s, size_t from, size_t to, double hz)
{
    const double w = 2 * std::numbers::pi * hz / 11025.0;
    double a = 0, b = 0;
    for (size_t i = from; i < to; ++i) {
        const double next = s[i] + 2 * std::cos(w) * a - b;
        b = a;
        a = next;
    }
    return std::sqrt(a * a + b * b - 2 * std::cos(w) * a * b) / static_cast<double>(to - from);
}

double dominant_frequency(const std::vector<double>& s, size_t from, size_t to)
{
    double best = 0, best_hz = 0;
    for (double hz = 200; hz < 4000; hz += 5) {
        const double value = strength(s, from, to, hz);
        if (value > best) {
            best = value;
            best_hz = hz;
        }
    }
    return best_hz;
}

} // namespace

TEST(MonitorSounds, HaveExactlyTheLayoutTheMonitorReads)
{
    ASSERT_NE(monitor_module(), nullptr);
    struct Expected {
        UINT id;
        DWORD image, data;
    };
    for (const Expected& e : {Expected{IDR_WAVE_REGULAR, 6948, 6904}, Expected{IDR_WAVE_ONOFF, 17488, 17444}}) {
        SCOPED_TRACE(e.id);
        const Wave w = wave_resource(e.id);
        ASSERT_NE(w.image, nullptr);
        ASSERT_EQ(w.size, e.image);
        EXPECT_EQ(w.tag(0), "RIFF");
        EXPECT_EQ(w.u32(4), e.image - 8);
        EXPECT_EQ(w.tag(8), "WAVE");
        EXPECT_EQ(w.tag(12), "fmt ");
        EXPECT_EQ(w.u32(16), 16u);
        EXPECT_EQ(w.u16(20), 1);      // PCM
        EXPECT_EQ(w.u16(22), 1);      // mono
        EXPECT_EQ(w.u32(24), 11025u); // samples/s
        EXPECT_EQ(w.u32(28), 22050u); // bytes/s
        EXPECT_EQ(w.u16(32), 2);      // block align
        EXPECT_EQ(w.u16(34), 16);     // bits
        EXPECT_EQ(w.tag(36), "data");
        EXPECT_EQ(w.u32(40), e.data);
    }
}

TEST(MonitorSounds, FadeInAndOutWithoutClicksAtAModerateLevel)
{
    for (UINT id : {IDR_WAVE_REGULAR, IDR_WAVE_ONOFF}) {
        SCOPED_TRACE(id);
        const std::vector<double> s = wave_resource(id).samples();
        ASSERT_GT(s.size(), 1000u);
        EXPECT_LT(std::abs(s.front()), 0.002);
        EXPECT_LT(std::abs(s.back()), 0.002);
        // The first and last millisecond stay far below the peak.
        const double peak = std::ranges::max(s, {}, [](double v) { return std::abs(v); });
        EXPECT_GT(std::abs(peak), 0.2);
        EXPECT_LT(std::abs(peak), 0.6);
        for (size_t i = 0; i < 11; ++i) {
            EXPECT_LT(std::abs(s[i]), 0.1 * std::abs(peak)) << i;
            EXPECT_LT(std::abs(s[s.size() - 1 - i]), 0.1 * std::abs(peak)) << i;
        }
    }
}

TEST(MonitorSounds, TheOnOffSignalIsTwoTonesAndThePeriodicOneTone)
{
    const std::vector<double> chime = wave_resource(IDR_WAVE_ONOFF).samples();
    const double first = dominant_frequency(chime, 200, 3000);
    const double second = dominant_frequency(chime, 4000, 6500);
    EXPECT_GT(std::abs(first - second), 100.0) << first << " then " << second;

    const std::vector<double> beep = wave_resource(IDR_WAVE_REGULAR).samples();
    EXPECT_NEAR(dominant_frequency(beep, 200, 1600), dominant_frequency(beep, 1800, 3200), 10.0);
}

TEST(MonitorResources, MarkTheProgramAsHighResolutionAware)
{
    const HINSTANCE module = monitor_module();
    const HRSRC marker = FindResourceW(module, L"HI_RES_AWARE", L"CEUX");
    ASSERT_NE(marker, nullptr);
    ASSERT_EQ(SizeofResource(module, marker), 2u);
    EXPECT_EQ(*static_cast<const WORD*>(LoadResource(module, marker)), 1);
}
