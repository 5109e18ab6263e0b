// Writes the alarm sound: a two-tone siren (1 s, 16-bit mono PCM WAV) whose
// pitch alternates four times between two notes a fourth apart, with short
// fades so that no step clicks.
//   alarmtone OUTPUT.wav
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

void putLe(std::vector<unsigned char>& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>((value >> (8 * i)) & 0xFF));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: alarmtone OUTPUT.wav\n");
        return 2;
    }
    const int beeps = 8;
    const int beepSamples = kRate / 8;
    const int fadeSamples = kRate / 200;
    std::vector<int16_t> samples;
    samples.reserve(static_cast<size_t>(beeps) * static_cast<size_t>(beepSamples));
    double phase = 0.0;
    for (int b = 0; b < beeps; ++b) {
        const double freq = (b % 2 == 0) ? 1320.0 : 990.0;
        for (int n = 0; n < beepSamples; ++n) {
            double gain = 1.0;
            if (n < fadeSamples)
                gain = static_cast<double>(n) / fadeSamples;
            else if (n > beepSamples - fadeSamples)
                gain = static_cast<double>(beepSamples - n) / fadeSamples;
            // A touch of the third harmonic makes the tone cut through noise.
            const double v = std::sin(phase) + 0.25 * std::sin(3.0 * phase);
            samples.push_back(static_cast<int16_t>(std::lround(v / 1.25 * gain * 26000.0)));
            phase += 2.0 * kPi * freq / kRate;
            if (phase > 2.0 * kPi)
                phase -= 2.0 * kPi;
        }
    }

    const auto dataBytes = static_cast<uint32_t>(samples.size() * sizeof(int16_t));
    std::vector<unsigned char> wav;
    wav.insert(wav.end(), { 'R', 'I', 'F', 'F' });
    putLe(wav, 36 + dataBytes, 4);
    wav.insert(wav.end(), { 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ' });
    putLe(wav, 16, 4);
    putLe(wav, 1, 2); // PCM
    putLe(wav, 1, 2); // mono
    putLe(wav, kRate, 4);
    putLe(wav, kRate * 2, 4);
    putLe(wav, 2, 2);
    putLe(wav, 16, 2);
    wav.insert(wav.end(), { 'd', 'a', 't', 'a' });
    putLe(wav, dataBytes, 4);
    for (int16_t s : samples)
        putLe(wav, static_cast<uint16_t>(s), 2);

    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(wav.data(), 1, wav.size(), f) == wav.size();
    return (std::fclose(f) == 0 && ok) ? 0 : 1;
}
