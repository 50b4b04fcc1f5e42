// Synthesises the alert sound: two short falling tones, a chime that stands out from a desktop's
// clicks without being harsh, and a moment of silence, as a 16-bit mono WAV file.
//   make_alert_sound FILE

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr std::uint32_t SAMPLE_RATE = 44100;
constexpr double PEAK = 0.6;
// Short enough that one alert is over before a person can test again.
struct Tone
{
    double hertz;
    double seconds;
};
constexpr std::array TONES {Tone {1046.5, 0.14}, Tone {784.0, 0.22}};
// A few milliseconds of rise, so the tone starts without a click.
constexpr double ATTACK_SECONDS = 0.005;
// Qt ends the stream once it has handed over the last sample, and the end of the first sound,
// not yet played, is lost with it; what is lost is this silence.
constexpr double SILENCE_SECONDS = 0.25;

std::vector<std::int16_t> synthesise()
{
    std::vector<std::int16_t> samples;
    for (const Tone &tone : TONES) {
        const auto count = static_cast<std::uint32_t>(tone.seconds * SAMPLE_RATE);
        for (std::uint32_t i = 0; i < count; ++i) {
            const double t = double(i) / SAMPLE_RATE;
            // Rises, then dies away to silence at the tone's end, as a struck bell does.
            const double envelope
                = std::min(1.0, t / ATTACK_SECONDS) * std::pow(1.0 - double(i) / count, 2.0);
            const double value = PEAK * envelope * std::sin(2 * std::numbers::pi * tone.hertz * t);
            samples.push_back(static_cast<std::int16_t>(std::lround(value * 32767)));
        }
    }
    samples.resize(samples.size() + static_cast<std::size_t>(SILENCE_SECONDS * SAMPLE_RATE));
    return samples;
}

// WAV is little-endian whatever the machine.
void put(std::vector<unsigned char> &bytes, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::vector<unsigned char> wav(const std::vector<std::int16_t> &samples)
{
    constexpr std::uint32_t BYTES_PER_SAMPLE = 2;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size() * BYTES_PER_SAMPLE);
    std::vector<unsigned char> bytes;
    for (char c : {'R', 'I', 'F', 'F'})
        bytes.push_back(static_cast<unsigned char>(c));
    put(bytes, 36 + dataBytes, 4);
    for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '})
        bytes.push_back(static_cast<unsigned char>(c));
    put(bytes, 16, 4); // format chunk size
    put(bytes, 1, 2); // PCM
    put(bytes, 1, 2); // mono
    put(bytes, SAMPLE_RATE, 4);
    put(bytes, SAMPLE_RATE * BYTES_PER_SAMPLE, 4);
    put(bytes, BYTES_PER_SAMPLE, 2);
    put(bytes, 16, 2);
    for (char c : {'d', 'a', 't', 'a'})
        bytes.push_back(static_cast<unsigned char>(c));
    put(bytes, dataBytes, 4);
    for (std::int16_t sample : samples)
        put(bytes, static_cast<std::uint16_t>(sample), 2);
    return bytes;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    const std::vector<unsigned char> bytes = wav(synthesise());
    std::FILE *file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()
        || std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
