// Build tool: synthesises the monitor's two signal sounds as RIFF/WAVE
// images of exactly the size and format the monitor's resources have
// (PCM, mono, 11025 samples/s, 16 bits):
//   the periodic signal, 3452 samples: a soft beep;
//   the start/end-of-call signal, 8722 samples: a two-tone chime.
// Both begin and end at silence, with short fades, so a speaker does not click.
//
// usage: callticker_make_sounds REGULAR.wav ONOFF.wav
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int sample_rate = 11025;
constexpr size_t regular_samples = 3452;
constexpr size_t onoff_samples = 8722;

// Peak level as a share of full scale: clearly audible on a phone's speaker
// without being harsh.
constexpr double beep_level = 0.35;
constexpr double chime_level = 0.42;

double seconds(size_t sample) { return static_cast<double>(sample) / sample_rate; }

// Rises from 0 to 1 over `length` samples along half a cosine: no corner
// at either end, so no click.
double raised_cosine(size_t i, size_t length)
{
    if (i >= length)
        return 1.0;
    return 0.5 - 0.5 * std::cos(std::numbers::pi * static_cast<double>(i) / static_cast<double>(length));
}

// Fades in over `fade_in` samples and out over the last `fade_out`, ending
// on exact silence at the final sample.
double fades(size_t i, size_t count, size_t fade_in, size_t fade_out)
{
    return raised_cosine(i, fade_in) * raised_cosine(count - 1 - i, fade_out);
}

std::vector<double> soft_beep()
{
    // A5 with a faint second harmonic: round rather than piercing;
    // a slight decay keeps it from sounding like a test tone.
    constexpr double pitch = 880.0;
    std::vector<double> wave(regular_samples);
    for (size_t i = 0; i < wave.size(); ++i) {
        const double t = seconds(i);
        const double tone = std::sin(2 * std::numbers::pi * pitch * t) + 0.12 * std::sin(4 * std::numbers::pi * pitch * t);
        const double decay = 1.0 - 0.35 * t / seconds(wave.size());
        wave[i] = tone * decay * fades(i, wave.size(), sample_rate / 100, sample_rate / 20);
    }
    return wave;
}

// One struck bell note starting at `start`: a fundamental with two quieter
// partials, each dying away faster than the one below it.
void add_bell(std::vector<double>& wave, size_t start, double pitch, double sustain_seconds)
{
    constexpr double partial_levels[] = {1.0, 0.28, 0.08};
    for (size_t i = start; i < wave.size(); ++i) {
        const double t = seconds(i - start);
        double note = 0;
        for (int k = 0; k < 3; ++k) {
            const double harmonic = k + 1;
            note += partial_levels[k] * std::exp(-t * harmonic / sustain_seconds) *
                    std::sin(2 * std::numbers::pi * pitch * harmonic * t);
        }
        wave[i] += note * raised_cosine(i - start, sample_rate / 200);
    }
}

std::vector<double> two_tone_chime()
{
    // A falling major third (E6, then C6): a friendly "ding-dong".
    std::vector<double> wave(onoff_samples);
    add_bell(wave, 0, 1318.5, 0.22);
    add_bell(wave, static_cast<size_t>(0.30 * sample_rate), 1046.5, 0.26);
    for (size_t i = 0; i < wave.size(); ++i)
        wave[i] *= fades(i, wave.size(), 1, sample_rate / 25);
    return wave;
}

std::vector<int16_t> to_pcm(const std::vector<double>& wave, double level)
{
    double peak = 0;
    for (double v : wave)
        peak = std::max(peak, std::abs(v));
    std::vector<int16_t> pcm(wave.size());
    for (size_t i = 0; i < wave.size(); ++i)
        pcm[i] = static_cast<int16_t>(std::lround(wave[i] / peak * level * 32767.0));
    return pcm;
}

void put16(std::string& out, uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}

void put32(std::string& out, uint32_t v)
{
    put16(out, static_cast<uint16_t>(v & 0xFFFF));
    put16(out, static_cast<uint16_t>(v >> 16));
}

// The plain two-chunk layout: "fmt " at byte 12, "data" at byte 36.
std::string riff_wave(const std::vector<int16_t>& samples)
{
    constexpr uint16_t channels = 1, bits = 16, block_align = channels * bits / 8;
    const auto data_bytes = static_cast<uint32_t>(samples.size() * block_align);
    std::string out = "RIFF";
    put32(out, 36 + data_bytes);
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1); // PCM
    put16(out, channels);
    put32(out, sample_rate);
    put32(out, sample_rate * block_align);
    put16(out, block_align);
    put16(out, bits);
    out += "data";
    put32(out, data_bytes);
    for (int16_t s : samples)
        put16(out, static_cast<uint16_t>(s));
    return out;
}

bool write_file(const char* path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    if (!out)
        std::cerr << "callticker_make_sounds: cannot write " << path << '\n';
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: callticker_make_sounds REGULAR.wav ONOFF.wav\n";
        return 2;
    }
    const bool ok = write_file(argv[1], riff_wave(to_pcm(soft_beep(), beep_level))) &&
                    write_file(argv[2], riff_wave(to_pcm(two_tone_chime(), chime_level)));
    return ok ? 0 : 1;
}
