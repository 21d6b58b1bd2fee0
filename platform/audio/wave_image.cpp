// RIFF/WAVE reading and writing.  Chunks are word-aligned as RIFF requires;
// a data chunk that claims more than the image holds is cut at its end, as
// Windows plays what is there.
#include "wave_image.h"

#include <cmath>
#include <cstring>
#include <numbers>

namespace wince::audio {
namespace {

uint32_t read32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t read16(const BYTE* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void put32(std::vector<BYTE>& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(v >> (8 * i)));
}
void put16(std::vector<BYTE>& out, uint16_t v)
{
    out.push_back(static_cast<BYTE>(v));
    out.push_back(static_cast<BYTE>(v >> 8));
}
void put_tag(std::vector<BYTE>& out, const char* tag)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(tag[i]));
}

std::vector<BYTE> make_default_sound()
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 11025;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 22050;
    constexpr int samples = 11025 / 5; // 200 ms
    std::vector<BYTE> data;
    data.reserve(samples * 2);
    for (int i = 0; i < samples; ++i) {
        const double fade = std::min(1.0, std::min(i, samples - i) / 200.0);
        const double value = 12000.0 * fade * std::sin(2 * std::numbers::pi * 880.0 * i / 11025.0);
        const auto sample = static_cast<int16_t>(std::lround(value));
        data.push_back(static_cast<BYTE>(sample & 0xFF));
        data.push_back(static_cast<BYTE>((sample >> 8) & 0xFF));
    }
    return make_wave_file(format, data.data(), data.size());
}

} // namespace

std::optional<WaveImage> parse_wave_image(const void* image, size_t size)
{
    const BYTE* bytes = static_cast<const BYTE*>(image);
    if (!bytes || size < 12 || std::memcmp(bytes, "RIFF", 4) != 0 || std::memcmp(bytes + 8, "WAVE", 4) != 0)
        return std::nullopt;
    WaveImage wave;
    bool have_format = false;
    bool have_data = false;
    size_t pos = 12;
    while (pos <= size && size - pos >= 8) {
        const BYTE* chunk = bytes + pos;
        const size_t length = read32(chunk + 4);
        const size_t available = size - pos - 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || length > available)
                return std::nullopt;
            wave.format.wFormatTag = read16(chunk + 8);
            wave.format.nChannels = read16(chunk + 10);
            wave.format.nSamplesPerSec = read32(chunk + 12);
            wave.format.nAvgBytesPerSec = read32(chunk + 16);
            wave.format.nBlockAlign = read16(chunk + 20);
            wave.format.wBitsPerSample = read16(chunk + 22);
            wave.format.cbSize = 0;
            have_format = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            wave.samples = chunk + 8;
            wave.bytes = std::min(length, available);
            have_data = true;
        }
        if (length >= available)
            break;
        pos += 8 + length + (length & 1);
    }
    if (!have_format || !have_data)
        return std::nullopt;
    return wave;
}

std::vector<BYTE> make_wave_file(const WAVEFORMATEX& format, const BYTE* samples, size_t bytes)
{
    std::vector<BYTE> out;
    out.reserve(44 + bytes + 1);
    put_tag(out, "RIFF");
    put32(out, static_cast<uint32_t>(36 + bytes + (bytes & 1)));
    put_tag(out, "WAVE");
    put_tag(out, "fmt ");
    put32(out, 16);
    put16(out, format.wFormatTag);
    put16(out, format.nChannels);
    put32(out, format.nSamplesPerSec);
    put32(out, format.nAvgBytesPerSec);
    put16(out, format.nBlockAlign);
    put16(out, format.wBitsPerSample);
    put_tag(out, "data");
    put32(out, static_cast<uint32_t>(bytes));
    const size_t header = out.size();
    out.resize(header + bytes + (bytes & 1), 0); // RIFF pads an odd chunk
    if (bytes)
        std::memcpy(out.data() + header, samples, bytes);
    return out;
}

const std::vector<BYTE>& default_sound()
{
    static const std::vector<BYTE> sound = make_default_sound();
    return sound;
}

double duration_ms(const WAVEFORMATEX& format, size_t bytes)
{
    if (format.nAvgBytesPerSec == 0)
        return 0;
    return static_cast<double>(bytes) * 1000.0 / format.nAvgBytesPerSec;
}

bool playable(const WAVEFORMATEX& format)
{
    return format.wFormatTag == WAVE_FORMAT_PCM && (format.nChannels == 1 || format.nChannels == 2) &&
           (format.wBitsPerSample == 8 || format.wBitsPerSample == 16) && format.nSamplesPerSec >= 1000 &&
           format.nSamplesPerSec <= 192000 && format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8 &&
           format.nAvgBytesPerSec == format.nSamplesPerSec * format.nBlockAlign;
}

} // namespace wince::audio
