// Makes the default alert sounds at build time: short chimes, 16-bit PCM mono at 22050 samples a
// second. Each note is a bell-like tone (a few harmonics, the higher ones dying away faster) under a
// soft attack and an exponential decay that reaches silence before the note ends, so nothing clicks.
// Notices rise and stay light; warnings are soft and high; errors are lower, fuller and firmer.
//
//     make_sounds OUTPUT_FOLDER      writes 01READY.WAV .. 12ERROR.WAV there
//
// The output depends on nothing but this file, so every build makes the same bytes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <numbers>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 22050;

enum class Voice { Soft, Firm };

struct Note {
    double frequency;  // Hz
    double start;      // seconds from the sound's start
    double length;     // seconds until it has died away
};

struct Chime {
    const char* name;
    Voice voice;
    double loudness;  // peak, as a share of full scale
    std::vector<Note> notes;
};

// Equal-tempered pitches used below.
constexpr double C4 = 261.63, D4 = 293.66, E4 = 329.63, F4 = 349.23, G4 = 392.00, A4 = 440.00, B4 = 493.88;
constexpr double C5 = 523.25, E5 = 659.25, Fs5 = 739.99, G5 = 783.99, A5 = 880.00;
constexpr double A3 = 220.00, Eb4 = 311.13, Fs4 = 369.99;

const std::vector<Chime>& chimes()
{
    static const std::vector<Chime> all = {
        {"01READY.WAV", Voice::Soft, 0.45, {{C5, 0.00, 0.30}, {G5, 0.16, 0.54}}},
        {"02STOP.WAV", Voice::Soft, 0.45, {{G5, 0.00, 0.30}, {C5, 0.16, 0.50}}},
        {"03PPROUT.WAV", Voice::Firm, 0.50, {{E5, 0.00, 0.22}, {C5, 0.14, 0.22}, {A4, 0.28, 0.50}}},
        {"04PPRFEW.WAV", Voice::Soft, 0.40, {{E5, 0.00, 0.25}, {E5, 0.20, 0.40}}},
        {"05JAM.WAV", Voice::Firm, 0.55, {{A3, 0.00, 0.20}, {C4, 0.12, 0.20}, {A3, 0.24, 0.56}}},
        {"06PCOVER.WAV", Voice::Soft, 0.45, {{C5, 0.00, 0.25}, {A4, 0.15, 0.25}, {F4, 0.30, 0.45}}},
        {"07TONFEW.WAV", Voice::Soft, 0.40, {{G5, 0.00, 0.25}, {E5, 0.18, 0.42}}},
        {"08TONOUT.WAV", Voice::Firm, 0.50, {{G4, 0.00, 0.25}, {E4, 0.18, 0.60}}},
        {"09INKFEW.WAV", Voice::Soft, 0.40, {{A5, 0.00, 0.25}, {Fs5, 0.18, 0.42}}},
        {"10INKOUT.WAV", Voice::Firm, 0.50, {{A4, 0.00, 0.22}, {Fs4, 0.14, 0.22}, {D4, 0.28, 0.55}}},
        {"11COMERR.WAV", Voice::Firm, 0.50, {{B4, 0.00, 0.14}, {G4, 0.12, 0.14}, {B4, 0.24, 0.14}, {G4, 0.36, 0.40}}},
        {"12ERROR.WAV", Voice::Firm, 0.55, {{C4, 0.00, 0.80}, {Eb4, 0.00, 0.80}, {G4, 0.00, 0.45}}},
    };
    return all;
}

// One note's sample at `t` seconds after its start.
double noteSample(const Note& note, Voice voice, double t)
{
    if (t < 0 || t >= note.length) return 0;
    // Harmonic weights and how much faster each one fades than the fundamental.
    static constexpr double kSoft[] = {1.0, 0.30, 0.08};
    static constexpr double kFirm[] = {1.0, 0.45, 0.25, 0.12};
    const double* weights = voice == Voice::Soft ? kSoft : kFirm;
    const int partials = voice == Voice::Soft ? 3 : 4;
    const double attack = voice == Voice::Soft ? 0.012 : 0.004;
    // The decay reaches about -50 dB at the end of the note; a short cosine tail takes it to zero.
    const double decay = note.length / 6.0;
    const double tail = std::min(0.03, note.length / 4);
    double envelope = std::exp(-t / decay);
    if (t < attack) envelope *= 0.5 - 0.5 * std::cos(std::numbers::pi * t / attack);
    if (t > note.length - tail) envelope *= 0.5 + 0.5 * std::cos(std::numbers::pi * (t - (note.length - tail)) / tail);
    double value = 0;
    for (int k = 0; k < partials; ++k) {
        const double fade = std::exp(-t * k * 4.0);
        value += weights[k] * fade * std::sin(2 * std::numbers::pi * note.frequency * (k + 1) * t);
    }
    return envelope * value;
}

std::vector<std::int16_t> render(const Chime& chime)
{
    double end = 0;
    for (const auto& note : chime.notes) end = std::max(end, note.start + note.length);
    std::vector<double> mix(static_cast<std::size_t>(std::ceil(end * kRate)));
    for (std::size_t i = 0; i < mix.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        for (const auto& note : chime.notes) mix[i] += noteSample(note, chime.voice, t - note.start);
    }
    double peak = 0;
    for (double value : mix) peak = std::max(peak, std::abs(value));
    const double scale = peak > 0 ? chime.loudness * 32767.0 / peak : 0;
    std::vector<std::int16_t> samples(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(std::lround(mix[i] * scale));
    }
    return samples;
}

void put16(std::string& out, std::uint32_t value)
{
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>((value >> 8) & 0xFF));
}

void put32(std::string& out, std::uint32_t value)
{
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

std::string waveFile(const std::vector<std::int16_t>& samples)
{
    const auto dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    std::string out = "RIFF";
    put32(out, 4 + (8 + 16) + (8 + dataSize));
    out += "WAVEfmt ";
    put32(out, 16);
    put16(out, 1);          // PCM
    put16(out, 1);          // mono
    put32(out, kRate);      // samples a second
    put32(out, kRate * 2);  // bytes a second
    put16(out, 2);          // bytes a sample frame
    put16(out, 16);         // bits a sample
    out += "data";
    put32(out, dataSize);
    for (std::int16_t sample : samples) put16(out, static_cast<std::uint16_t>(sample));
    return out;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_sounds OUTPUT_FOLDER\n";
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::cerr << "make_sounds: " << folder.string() << ": " << error.message() << '\n';
        return 1;
    }
    for (const auto& chime : chimes()) {
        const auto path = folder / chime.name;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << waveFile(render(chime));
        file.close();
        if (!file) {
            std::cerr << "make_sounds: cannot write " << path.string() << '\n';
            return 1;
        }
    }
    return 0;
}
