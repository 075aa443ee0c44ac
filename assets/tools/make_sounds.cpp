// Makes the three shutter clips shutter1.wav, shutter2.wav and shutter3.wav in the folder given
// as the only argument. The output is deterministic: the same program always writes the same
// bytes, so the committed files can be remade and compared.
//
// The formats and file sizes are fixed because stored settings select the clips by number and
// the capture pipeline plays them as they are:
//   shutter1.wav  PCM 2 ch 22050 Hz 16 bit, 80,764 sample bytes, 80,856 bytes in all
//   shutter2.wav  PCM 1 ch 11025 Hz  8 bit,  2,405 sample bytes,  2,450 bytes in all
//   shutter3.wav  PCM 1 ch 22050 Hz 16 bit, 48,944 sample bytes, 48,988 bytes in all
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr double kPeak = 0.7071;  // -3 dBFS
constexpr double kTwoPi = 2.0 * std::numbers::pi;

// A small generator of our own: std::uniform_real_distribution may differ between standard
// libraries, and the clips must not.
class Noise {
public:
    explicit Noise(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    // Uniform in [-1, 1).
    double next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<double>(state_ >> 11) * (2.0 / 9007199254740992.0) - 1.0;
    }

private:
    std::uint64_t state_;
};

// Second-order filter (RBJ cookbook forms).
class Biquad {
public:
    static Biquad bandPass(double rate, double freq, double q) {
        const double w = kTwoPi * freq / rate, alpha = std::sin(w) / (2.0 * q);
        const double a0 = 1.0 + alpha;
        return Biquad(alpha / a0, 0.0, -alpha / a0, -2.0 * std::cos(w) / a0, (1.0 - alpha) / a0);
    }
    static Biquad lowPass(double rate, double freq, double q) {
        const double w = kTwoPi * freq / rate, alpha = std::sin(w) / (2.0 * q);
        const double c = std::cos(w), a0 = 1.0 + alpha;
        return Biquad((1.0 - c) / 2.0 / a0, (1.0 - c) / a0, (1.0 - c) / 2.0 / a0, -2.0 * c / a0,
                      (1.0 - alpha) / a0);
    }
    static Biquad highPass(double rate, double freq, double q) {
        const double w = kTwoPi * freq / rate, alpha = std::sin(w) / (2.0 * q);
        const double c = std::cos(w), a0 = 1.0 + alpha;
        return Biquad((1.0 + c) / 2.0 / a0, -(1.0 + c) / a0, (1.0 + c) / 2.0 / a0, -2.0 * c / a0,
                      (1.0 - alpha) / a0);
    }
    double operator()(double x) {
        const double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    Biquad(double b0, double b1, double b2, double a1, double a2)
        : b0_(b0), b1_(b1), b2_(b2), a1_(a1), a2_(a2) {}
    double b0_, b1_, b2_, a1_, a2_;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

// Envelope of a mechanical click: a short linear attack, then an exponential decay.
double clickEnvelope(double t, double attack, double decay) {
    if (t < 0)
        return 0;
    if (t < attack)
        return t / attack;
    return std::exp(-(t - attack) / decay);
}

struct Click {
    double at;  // seconds
    double gain;
    double attack;  // seconds
    double decay;   // seconds
    double tone;    // centre of the metallic band, Hz
    double body;    // frequency of the low thump, Hz
};

// Renders clicks (band-passed noise plus a decaying low sine) into a buffer of `frames`.
std::vector<double> renderClicks(const std::vector<Click>& clicks, double rate, std::size_t frames,
                                 std::uint64_t seed) {
    std::vector<double> out(frames, 0.0);
    Noise noise(seed);
    for (const Click& c : clicks) {
        Biquad band = Biquad::bandPass(rate, c.tone, 1.4);
        Biquad bright = Biquad::bandPass(rate, std::min(c.tone * 2.3, rate * 0.42), 2.0);
        const auto start = static_cast<std::size_t>(std::max(0.0, c.at) * rate);
        for (std::size_t i = start; i < frames; ++i) {
            const double t = static_cast<double>(i - start) / rate;
            const double env = clickEnvelope(t, c.attack, c.decay);
            if (t > c.attack + 12 * c.decay)
                break;
            const double n = noise.next();
            const double thump =
                std::sin(kTwoPi * c.body * t) * clickEnvelope(t, c.attack, c.decay * 1.6);
            out[i] += c.gain * (env * (band(n) * 1.6 + bright(n) * 0.7) + 0.45 * thump);
        }
    }
    return out;
}

// Removes the DC a thump leaves behind, fades the very ends to silence, and scales to kPeak.
void finish(std::vector<std::vector<double>>& channels, double rate) {
    for (auto& ch : channels) {
        Biquad dc = Biquad::highPass(rate, 25.0, 0.707);
        for (double& s : ch)
            s = dc(s);
        double mean = 0;
        for (double s : ch)
            mean += s;
        mean /= static_cast<double>(ch.size());
        for (double& s : ch)
            s -= mean;
        const std::size_t fade = static_cast<std::size_t>(rate * 0.004);
        for (std::size_t i = 0; i < fade && i < ch.size(); ++i) {
            const double g = static_cast<double>(i) / static_cast<double>(fade);
            ch[i] *= g;
            ch[ch.size() - 1 - i] *= g;
        }
    }
    // Each channel on its own, so that a stereo clip is balanced.
    for (auto& ch : channels) {
        double peak = 0;
        for (double s : ch)
            peak = std::max(peak, std::abs(s));
        if (peak <= 0)
            continue;
        for (double& s : ch)
            s *= kPeak / peak;
    }
}

void put16(std::vector<std::uint8_t>& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void putId(std::vector<std::uint8_t>& out, std::string_view id) {
    out.insert(out.end(), id.begin(), id.end());
}

// A text subchunk of LIST/INFO: the text, its terminating zero and zeros up to `size` bytes.
void putInfo(std::vector<std::uint8_t>& out, std::string_view id, std::string_view text,
             std::uint32_t size) {
    putId(out, id);
    put32(out, size);
    out.insert(out.end(), text.begin(), text.end());
    out.insert(out.end(), size - text.size(), 0);
}

struct Info {
    std::string_view id, text;
    std::uint32_t size;  // even, at least text + 1
};

// Interleaves and quantises the channels, then writes fmt, the optional LIST/INFO, and data.
// A data chunk of odd length is followed by its pad byte, which the chunk's length excludes.
std::vector<std::uint8_t> makeWav(const std::vector<std::vector<double>>& channels, unsigned rate,
                                  unsigned bits, const std::vector<Info>& info) {
    const unsigned nch = static_cast<unsigned>(channels.size());
    const std::size_t frames = channels[0].size();
    std::vector<std::uint8_t> samples;
    for (std::size_t i = 0; i < frames; ++i) {
        for (const auto& ch : channels) {
            const double s = std::clamp(ch[i], -1.0, 1.0);
            if (bits == 8) {
                samples.push_back(static_cast<std::uint8_t>(std::lround(s * 127.0) + 128));
            } else {
                const long v = std::lround(s * 32767.0);
                put16(samples, static_cast<unsigned>(v) & 0xFFFF);
            }
        }
    }
    std::vector<std::uint8_t> list;
    if (!info.empty()) {
        putId(list, "INFO");
        for (const Info& i : info)
            putInfo(list, i.id, i.text, i.size);
    }
    const unsigned blockAlign = nch * bits / 8;
    std::vector<std::uint8_t> body;
    putId(body, "WAVE");
    putId(body, "fmt ");
    put32(body, 16);
    put16(body, 1);
    put16(body, nch);
    put32(body, rate);
    put32(body, rate * blockAlign);
    put16(body, blockAlign);
    put16(body, bits);
    if (!list.empty()) {
        putId(body, "LIST");
        put32(body, static_cast<std::uint32_t>(list.size()));
        body.insert(body.end(), list.begin(), list.end());
    }
    putId(body, "data");
    put32(body, static_cast<std::uint32_t>(samples.size()));
    body.insert(body.end(), samples.begin(), samples.end());
    if (samples.size() % 2)
        body.push_back(0);

    std::vector<std::uint8_t> file;
    putId(file, "RIFF");
    put32(file, static_cast<std::uint32_t>(body.size()));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

// A camera's mechanical shutter: the mirror flips up, the curtains run and close ~90 ms later,
// then the film advance ratchets for a moment. The right channel hears it a fraction of a
// millisecond later and with its own noise, so the clip is not merely mono in two channels.
std::vector<std::uint8_t> shutterOne() {
    constexpr double rate = 22050;
    constexpr std::size_t frames = 80764 / 4;
    std::vector<Click> clicks = {
        {0.008, 1.00, 0.0015, 0.011, 2600, 170},
        {0.098, 0.85, 0.0010, 0.009, 3300, 210},
    };
    // Ratchet: evenly slowing ticks that fade out.
    double t = 0.26;
    for (int i = 0; i < 14; ++i) {
        clicks.push_back({t, 0.16 * std::exp(-i / 9.0), 0.0006, 0.004, 4200, 420});
        t += 0.026 + 0.0025 * i;
    }
    std::vector<std::vector<double>> ch;
    ch.push_back(renderClicks(clicks, rate, frames, 0x5151));
    for (Click& c : clicks)
        c.at += 0.0004;
    std::vector<double> right = renderClicks(clicks, rate, frames, 0xA7A7);
    for (std::size_t i = 0; i < frames; ++i)
        right[i] = 0.8 * right[i] + 0.2 * ch[0][i];
    ch.push_back(std::move(right));
    finish(ch, rate);
    return makeWav(ch, 22050, 16, {{"INAM", "Shutter one", 12}, {"ISFT", "Lumora", 8}});
}

// A single crisp click, short enough for rapid captures.
std::vector<std::uint8_t> shutterTwo() {
    constexpr double rate = 11025;
    constexpr std::size_t frames = 2405;
    std::vector<std::vector<double>> ch;
    ch.push_back(renderClicks(
        {{0.004, 1.0, 0.0012, 0.010, 2300, 190}, {0.030, 0.30, 0.0008, 0.006, 3000, 260}}, rate,
        frames, 0x2222));
    finish(ch, rate);
    return makeWav(ch, 11025, 8, {});
}

// A softer click followed by the falling whirr of a small motor winding on.
std::vector<std::uint8_t> shutterThree() {
    constexpr double rate = 22050;
    constexpr std::size_t frames = 48944 / 2;
    std::vector<double> out =
        renderClicks({{0.010, 0.7, 0.003, 0.016, 1800, 150}}, rate, frames, 0x3333);
    Noise noise(0x3434);
    Biquad tone = Biquad::lowPass(rate, 2400, 0.9);
    Biquad grit = Biquad::bandPass(rate, 3500, 1.0);
    double phase = 0;
    constexpr double start = 0.09, length = 0.82;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate - start;
        if (t < 0 || t > length)
            continue;
        const double u = t / length;
        const double freq = 820.0 * std::pow(260.0 / 820.0, u);  // glides down
        phase += freq / rate;
        phase -= std::floor(phase);
        const double saw = 2.0 * phase - 1.0;
        // Rises in 60 ms, holds, then dies away with the pitch.
        const double env = std::min(1.0, t / 0.06) * std::pow(1.0 - u, 1.5);
        // A motor's gear teeth: a slight flutter at a fifth of the pitch.
        const double flutter = 0.75 + 0.25 * std::sin(kTwoPi * freq * 0.2 * t);
        out[i] += 0.32 * env * flutter * tone(saw) + 0.05 * env * grit(noise.next());
    }
    std::vector<std::vector<double>> ch{std::move(out)};
    finish(ch, rate);
    return makeWav(ch, 22050, 16, {});
}

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "make_sounds: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sounds <output folder>\n");
        return 2;
    }
    const std::string folder = std::string(argv[1]) + "/";
    const bool ok = writeFile(folder + "shutter1.wav", shutterOne()) &&
                    writeFile(folder + "shutter2.wav", shutterTwo()) &&
                    writeFile(folder + "shutter3.wav", shutterThree());
    return ok ? 0 : 1;
}
