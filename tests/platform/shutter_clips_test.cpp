// The three embedded shutter clips, read byte by byte without the player's own parser: stored
// settings select them by number, so their formats and sizes must stay exactly as they are.
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "assets/assets.h"

namespace {

struct Expected {
    const char* name;
    std::size_t fileSize;
    unsigned channels;
    unsigned rate;
    unsigned bits;
    std::size_t sampleBytes;
    std::vector<std::string> chunks;  // in file order
};

const Expected kClips[] = {
    {"shutter1.wav", 80856, 2, 22050, 16, 80764, {"fmt ", "LIST", "data"}},
    {"shutter2.wav", 2450, 1, 11025, 8, 2405, {"fmt ", "data"}},
    {"shutter3.wav", 48988, 1, 22050, 16, 48944, {"fmt ", "data"}},
};

unsigned u16(std::span<const std::uint8_t> b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
std::uint32_t u32(std::span<const std::uint8_t> b, std::size_t at) {
    return u16(b, at) | (static_cast<std::uint32_t>(u16(b, at + 2)) << 16);
}
std::string id(std::span<const std::uint8_t> b, std::size_t at) {
    return {reinterpret_cast<const char*>(b.data() + at), 4};
}

struct ChunkAt {
    std::string id;
    std::size_t body;
    std::uint32_t length;
};

// Chunks after "WAVE", with the RIFF rule that odd chunks carry a pad byte.
std::vector<ChunkAt> chunks(std::span<const std::uint8_t> b) {
    std::vector<ChunkAt> out;
    for (std::size_t pos = 12; pos + 8 <= b.size();) {
        out.push_back({id(b, pos), pos + 8, u32(b, pos + 4)});
        pos += 8 + std::size_t{out.back().length} + (out.back().length & 1);
    }
    return out;
}

// Samples as -1..1, channel by channel.
std::vector<std::vector<double>> decode(std::span<const std::uint8_t> samples, unsigned channels,
                                        unsigned bits) {
    std::vector<std::vector<double>> out(channels);
    const std::size_t width = bits / 8;
    for (std::size_t i = 0; i + width <= samples.size(); i += width) {
        const double v = bits == 8 ? (samples[i] - 128) / 128.0
                                   : static_cast<std::int16_t>(u16(samples, i)) / 32768.0;
        out[(i / width) % channels].push_back(v);
    }
    return out;
}

double peakDb(const std::vector<double>& s, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    double peak = 0;
    for (std::size_t i = from; i < std::min(to, s.size()); ++i)
        peak = std::max(peak, std::abs(s[i]));
    return 20 * std::log10(std::max(peak, 1e-9));
}

TEST(ShutterClips, HaveTheirExactFormatsAndSizes) {
    for (const Expected& e : kClips) {
        SCOPED_TRACE(e.name);
        const auto b = lumora::assets::find(e.name);
        ASSERT_EQ(b.size(), e.fileSize);
        EXPECT_EQ(id(b, 0), "RIFF");
        EXPECT_EQ(u32(b, 4), e.fileSize - 8);
        EXPECT_EQ(id(b, 8), "WAVE");

        const auto list = chunks(b);
        std::vector<std::string> ids;
        for (const ChunkAt& c : list)
            ids.push_back(c.id);
        ASSERT_EQ(ids, e.chunks);
        const ChunkAt& fmt = list.front();
        const ChunkAt& data = list.back();
        // The chunks fill the file exactly; an odd data chunk ends in its (zero) pad byte.
        EXPECT_EQ(data.body + data.length + (data.length & 1), e.fileSize);
        if (data.length & 1) {
            EXPECT_EQ(b[e.fileSize - 1], 0);
        }

        ASSERT_EQ(fmt.length, 16u);
        const unsigned blockAlign = e.channels * e.bits / 8;
        EXPECT_EQ(u16(b, fmt.body), 1u) << "PCM";
        EXPECT_EQ(u16(b, fmt.body + 2), e.channels);
        EXPECT_EQ(u32(b, fmt.body + 4), e.rate);
        EXPECT_EQ(u32(b, fmt.body + 8), e.rate * blockAlign);
        EXPECT_EQ(u16(b, fmt.body + 12), blockAlign);
        EXPECT_EQ(u16(b, fmt.body + 14), e.bits);
        EXPECT_EQ(data.length, e.sampleBytes);
        EXPECT_EQ(e.sampleBytes % blockAlign, 0u);
    }
}

TEST(ShutterClips, InfoListIsWellFormed) {
    const auto b = lumora::assets::find("shutter1.wav");
    const auto list = chunks(b);
    ASSERT_EQ(list.size(), 3u);
    const ChunkAt& info = list[1];
    ASSERT_EQ(id(b, info.body), "INFO");
    std::vector<std::string> names;
    std::size_t pos = info.body + 4;
    while (pos + 8 <= info.body + info.length) {
        const std::uint32_t length = u32(b, pos + 4);
        ASSERT_LE(pos + 8 + length, info.body + info.length);
        // Text subchunks are zero-terminated.
        const auto text = b.subspan(pos + 8, length);
        EXPECT_NE(std::find(text.begin(), text.end(), 0), text.end()) << id(b, pos);
        names.push_back(id(b, pos));
        pos += 8 + length + (length & 1);
    }
    EXPECT_EQ(pos, info.body + info.length);
    EXPECT_EQ(names, (std::vector<std::string>{"INAM", "ISFT"}));
}

// They should sound like a shutter when a capture is taken: loud at once, not clipped, no
// DC offset (which would thump as the device starts and stops), and silent at the end.
TEST(ShutterClips, SoundLikeAShortClickAtAComfortableLevel) {
    std::vector<std::vector<double>> firsts;
    for (const Expected& e : kClips) {
        SCOPED_TRACE(e.name);
        const auto b = lumora::assets::find(e.name);
        const ChunkAt data = chunks(b).back();
        const auto channels = decode(b.subspan(data.body, data.length), e.channels, e.bits);
        for (const auto& s : channels) {
            EXPECT_NEAR(peakDb(s), -3.0, 0.5);
            double sum = 0;
            for (double v : s)
                sum += v;
            EXPECT_LT(std::abs(sum / static_cast<double>(s.size())), 0.005);
            const std::size_t ms = e.rate / 1000;
            EXPECT_GT(peakDb(s, 0, 30 * ms), -10.0) << "the click comes at once";
            EXPECT_LT(peakDb(s, s.size() - 10 * ms), -40.0) << "the clip ends in silence";
        }
        if (e.channels == 2) {
            EXPECT_NE(channels[0], channels[1]) << "true stereo";
        }
        firsts.push_back(channels[0]);
    }
    EXPECT_NE(firsts[0], firsts[2]);
}

}  // namespace
