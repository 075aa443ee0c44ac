#include "platform/image_encoding.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::readFile;
using test::runCommand;
using test::TempDir;
using test::writeFile;

struct Rgb {
    std::uint8_t r, g, b;
};

void put(Bytes& b, std::size_t at, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Four flat quadrants (red, green, blue, white from the top left, clockwise: red, green /
// white, blue) over a soft gradient, so a channel swap or a row flip changes every block.
Rgb patternPixel(int x, int y, int width, int height) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    const int shade = (x * 7 + y * 3) % 24;
    Rgb base = !bottom ? (right ? Rgb{30, 200, 40} : Rgb{210, 30, 30})
                       : (right ? Rgb{40, 40, 210} : Rgb{220, 220, 220});
    base.r = static_cast<std::uint8_t>(base.r + shade);
    base.g = static_cast<std::uint8_t>(base.g + shade);
    base.b = static_cast<std::uint8_t>(base.b + shade);
    return base;
}

// A 24-bit BMP written the way an independent writer would: 40-byte header (or the 12-byte
// core header), padded rows, bottom-up unless `topDown`.
Bytes makeBmp(int width, int height, bool topDown = false, bool coreHeader = false) {
    const std::size_t infoSize = coreHeader ? 12 : 40;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    const std::size_t offBits = 14 + infoSize;
    Bytes b(offBits + stride * height, 0);
    b[0] = 'B';
    b[1] = 'M';
    put(b, 2, static_cast<std::uint32_t>(b.size()), 4);
    put(b, 10, static_cast<std::uint32_t>(offBits), 4);
    put(b, 14, static_cast<std::uint32_t>(infoSize), 4);
    if (coreHeader) {
        put(b, 18, width, 2);
        put(b, 20, height, 2);
        put(b, 22, 1, 2);
        put(b, 24, 24, 2);
    } else {
        put(b, 18, width, 4);
        put(b, 22, static_cast<std::uint32_t>(topDown ? -height : height), 4);
        put(b, 26, 1, 2);
        put(b, 28, 24, 2);
        put(b, 34, static_cast<std::uint32_t>(stride * height), 4);
    }
    for (int y = 0; y < height; ++y) {
        const int stored = topDown ? y : height - 1 - y;
        std::uint8_t* row = b.data() + offBits + stride * stored;
        for (int x = 0; x < width; ++x) {
            const Rgb p = patternPixel(x, y, width, height);
            row[3 * x] = p.b;
            row[3 * x + 1] = p.g;
            row[3 * x + 2] = p.r;
        }
    }
    return b;
}

// The marker segments of a JPEG up to the first scan: marker -> list of payloads.
std::multimap<int, Bytes> segments(const Bytes& jpeg) {
    std::multimap<int, Bytes> out;
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return out;
    std::size_t i = 2;
    while (i + 4 <= jpeg.size() && jpeg[i] == 0xFF) {
        const int marker = jpeg[i + 1];
        const std::size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
        if (length < 2 || i + 2 + length > jpeg.size())
            break;
        out.emplace(marker, Bytes(jpeg.begin() + i + 4, jpeg.begin() + i + 2 + length));
        if (marker == 0xDA)
            break;
        i += 2 + length;
    }
    return out;
}

// The code-length counts of the luminance DC table of the baseline standard.
const Bytes kStandardLumaDcBits = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};

Bytes dcLumaBits(const Bytes& jpeg) {
    for (const auto& [marker, payload] : segments(jpeg)) {
        // One DHT segment may hold several tables: class/id byte, 16 counts, the symbols.
        for (std::size_t i = 0; marker == 0xC4 && i + 17 <= payload.size();) {
            Bytes bits(payload.begin() + i + 1, payload.begin() + i + 17);
            std::size_t symbols = 0;
            for (auto n : bits)
                symbols += n;
            if (payload[i] == 0x00)
                return bits;
            i += 17 + symbols;
        }
    }
    return {};
}

class ImageEncodingTest : public ::testing::Test {
protected:
    fs::path file(const std::string& name) const { return dir.path() / name; }
    std::string bmpWith(const Bytes& bytes, const std::string& name = "in.bmp") {
        writeFile(file(name), bytes);
        return file(name).string();
    }
    Bytes cjpeg(const std::string& args, const std::string& bmp) {
        const fs::path out = file("reference.jpg");
        const std::string command =
            "cjpeg " + args + " -outfile '" + out.string() + "' '" + bmp + "'";
        EXPECT_EQ(runCommand(command), 0) << command;
        return readFile(out);
    }
    TempDir dir;
};

// ---- writeFileBytes -------------------------------------------------------------------------

TEST_F(ImageEncodingTest, WriteReplacesContentWithPiecesInOrder) {
    writeFile(file("a.bin"), Bytes(1000, 0x55));
    const Bytes one = {1, 2, 3}, none = {}, two = {4, 5};
    ASSERT_TRUE(writeFileBytes(file("a.bin").string(), {one, none, two}));
    EXPECT_EQ(readFile(file("a.bin")), (Bytes{1, 2, 3, 4, 5}));

    ASSERT_TRUE(writeFileBytes(file("a.bin").string(), Bytes{}));
    EXPECT_TRUE(fs::exists(file("a.bin")));
    EXPECT_EQ(fs::file_size(file("a.bin")), 0u);

    ASSERT_TRUE(writeFileBytes(file("new.bin").string(), Bytes{}));
    EXPECT_EQ(fs::file_size(file("new.bin")), 0u);
}

TEST_F(ImageEncodingTest, WriteCreatesFilesReadableByOthersUnderTheUmask) {
    const mode_t old = ::umask(022);
    ASSERT_TRUE(writeFileBytes(file("m.bin").string(), Bytes{7}));
    ::umask(old);
    struct stat info {};
    ASSERT_EQ(::stat(file("m.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST_F(ImageEncodingTest, WriteRefusesAFileAnotherHolderKeepsLocked) {
    writeFile(file("held.bin"), Bytes{9, 9, 9});
    const int holder = ::open(file("held.bin").c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(writeFileBytes(file("held.bin").string(), Bytes{1}));
    EXPECT_EQ(readFile(file("held.bin")), (Bytes{9, 9, 9}));
    ::close(holder);
    EXPECT_TRUE(writeFileBytes(file("held.bin").string(), Bytes{1}));
    EXPECT_EQ(readFile(file("held.bin")), (Bytes{1}));
}

TEST_F(ImageEncodingTest, WriteFailsForBadTargetsWithoutHanging) {
    EXPECT_FALSE(writeFileBytes("", Bytes{1}));
    EXPECT_FALSE(writeFileBytes((dir.path() / "missing" / "x.bin").string(), Bytes{1}));
    EXPECT_FALSE(writeFileBytes(dir.path().string(), Bytes{1}));
    // A FIFO nobody reads would block a plain open forever.
    ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(writeFileBytes(file("fifo").string(), Bytes{1}));
}

TEST_F(ImageEncodingTest, WriteReportsAFullDevice) {
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    EXPECT_FALSE(writeFileBytes("/dev/full", Bytes(100, 1)));
}

// ---- convertBmpToJpg: result codes ----------------------------------------------------------

TEST_F(ImageEncodingTest, OutOfRangeArgumentsGiveMinusSevenAndTouchNothing) {
    const std::string bmp = bmpWith(makeBmp(16, 16));
    const std::string jpg = file("out.jpg").string();
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 0), kConvertBadArguments);
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 101), kConvertBadArguments);
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 75, true, -1), kConvertBadArguments);
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 75, true, 101), kConvertBadArguments);
    EXPECT_EQ(convertBmpToJpg("", jpg, false, 75), kConvertBadArguments);
    EXPECT_EQ(convertBmpToJpg(bmp, "", false, 75), kConvertBadArguments);
    // Even a missing source does not matter when the arguments are wrong.
    EXPECT_EQ(convertBmpToJpg(file("none.bmp").string(), jpg, false, 0), kConvertBadArguments);
    EXPECT_FALSE(fs::exists(jpg));
    // The limits themselves are valid.
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 1, false, 0), kConvertOk);
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 100, true, 100), kConvertOk);
}

TEST_F(ImageEncodingTest, WritingOverTheSourceIsRefusedAndKeepsIt) {
    const Bytes original = makeBmp(16, 8);
    const std::string bmp = bmpWith(original);
    EXPECT_EQ(convertBmpToJpg(bmp, bmp, false, 75), kConvertBadArguments);
    ASSERT_EQ(::link(bmp.c_str(), file("alias.jpg").c_str()), 0);
    EXPECT_EQ(convertBmpToJpg(bmp, file("alias.jpg").string(), false, 75), kConvertBadArguments);
    EXPECT_EQ(readFile(bmp), original);
}

TEST_F(ImageEncodingTest, MissingSourceGivesMinusOne) {
    const std::string jpg = file("out.jpg").string();
    EXPECT_EQ(convertBmpToJpg(file("none.bmp").string(), jpg, false, 75), kConvertNoSource);
    EXPECT_EQ(convertBmpToJpg((dir.path() / "no" / "x.bmp").string(), jpg, false, 75),
              kConvertNoSource);
    EXPECT_FALSE(fs::exists(jpg));
}

TEST_F(ImageEncodingTest, SourcesNoDecoderAcceptsGiveMinusThreeAndNoJpeg) {
    const std::string jpg = file("out.jpg").string();
    Bytes eightBit = makeBmp(8, 8);
    put(eightBit, 28, 8, 2);
    Bytes truncated = makeBmp(32, 32);
    truncated.resize(truncated.size() - 1);
    Bytes zeroWidth = makeBmp(4, 4);
    put(zeroWidth, 18, 0, 4);
    Bytes zeroHeight = makeBmp(4, 4);
    put(zeroHeight, 22, 0, 4);
    Bytes runLength = makeBmp(4, 4);
    put(runLength, 30, 1, 4);
    Bytes oddHeader = makeBmp(4, 4);
    put(oddHeader, 14, 20, 4);
    Bytes offsetInsideHeader = makeBmp(4, 4);
    put(offsetInsideHeader, 10, 20, 4);
    Bytes hugeOffset = makeBmp(4, 4);
    put(hugeOffset, 10, 0xFFFFFFF0u, 4);
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"empty", {}},
        {"garbage", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}},
        {"bm only", Bytes{'B', 'M'}},
        {"8-bit", eightBit},
        {"truncated", truncated},
        {"zero width", zeroWidth},
        {"zero height", zeroHeight},
        {"RLE", runLength},
        {"unknown header size", oddHeader},
        {"offset inside header", offsetInsideHeader},
        {"offset past end", hugeOffset},
        {"broken jpeg", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 4, 0, 0, 0xFF}},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string bmp = bmpWith(bytes, "case.bmp");
        EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 75), kConvertUndecodable) << name;
        EXPECT_FALSE(fs::exists(jpg)) << name;
        EXPECT_EQ(readFile(bmp), bytes) << name;
    }
    EXPECT_EQ(convertBmpToJpg(dir.path().string(), jpg, false, 75), kConvertUndecodable);
}

TEST_F(ImageEncodingTest, UnreadableSourceGivesMinusThree) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    const std::string bmp = bmpWith(makeBmp(8, 8));
    fs::permissions(bmp, fs::perms::none);
    EXPECT_EQ(convertBmpToJpg(bmp, file("out.jpg").string(), false, 75), kConvertUndecodable);
}

TEST_F(ImageEncodingTest, UnwritableDestinationGivesMinusFour) {
    const std::string bmp = bmpWith(makeBmp(16, 16));
    EXPECT_EQ(convertBmpToJpg(bmp, (dir.path() / "no" / "x.jpg").string(), false, 75),
              kConvertWriteFailed);
    fs::create_directory(file("folder.jpg"));
    EXPECT_EQ(convertBmpToJpg(bmp, file("folder.jpg").string(), false, 75), kConvertWriteFailed);
    if (fs::exists("/dev/full")) {
        EXPECT_EQ(convertBmpToJpg(bmp, "/dev/full", false, 75), kConvertWriteFailed);
    }
}

TEST_F(ImageEncodingTest, PictureTooLargeForJpegGivesMinusFourWithoutAFile) {
    // A 70000 x 1 picture: every row present, but wider than a JPEG can be.
    const std::string bmp = bmpWith(makeBmp(70000, 1));
    const std::string jpg = file("wide.jpg").string();
    EXPECT_EQ(convertBmpToJpg(bmp, jpg, false, 75), kConvertWriteFailed);
    EXPECT_FALSE(fs::exists(jpg));
}

TEST_F(ImageEncodingTest, AJpegClaimingGigapixelsIsRefusedBeforeItIsDecoded) {
    const std::string small = file("small.jpg").string();
    ASSERT_EQ(convertBmpToJpg(bmpWith(makeBmp(16, 16)), small, false, 75), kConvertOk);
    Bytes bomb = readFile(small);
    std::size_t sof = 2;
    while (sof + 9 < bomb.size() && !(bomb[sof] == 0xFF && bomb[sof + 1] == 0xC0))
        ++sof;
    ASSERT_LT(sof + 9, bomb.size());
    // 8699 rows of 65284 pixels: 1.7 GB decoded from a file of a few hundred bytes.
    bomb[sof + 5] = 8699 >> 8;
    bomb[sof + 6] = 8699 & 0xFF;
    bomb[sof + 7] = 65284 >> 8;
    bomb[sof + 8] = 65284 & 0xFF;
    const std::string jpg = file("bomb-out.jpg").string();
    EXPECT_EQ(convertBmpToJpg(bmpWith(bomb, "bomb.jpg"), jpg, false, 75), kConvertUndecodable);
    EXPECT_FALSE(fs::exists(jpg));
}

// ---- convertBmpToJpg: the JPEG --------------------------------------------------------------

TEST_F(ImageEncodingTest, CaptureSettingsGiveBaselineJfifWithOptimisedTables) {
    const std::string bmp = bmpWith(makeBmp(192, 108));
    const std::string jpg = file("out.jpg").string();
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, false, 75, true, 0), kConvertOk);
    const Bytes jpeg = readFile(jpg);
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
    EXPECT_EQ(jpeg.back(), 0xD9);
    const auto segs = segments(jpeg);

    ASSERT_EQ(segs.count(0xE0), 1u);
    const Bytes& app0 = segs.find(0xE0)->second;
    ASSERT_GE(app0.size(), 12u);
    EXPECT_EQ(std::string(app0.begin(), app0.begin() + 5), std::string("JFIF\0", 5));
    EXPECT_EQ(app0[5], 1);  // version 1.01
    EXPECT_EQ(app0[6], 1);
    EXPECT_EQ(app0[7], 0);  // no unit: aspect ratio only
    EXPECT_EQ(app0[8], 0);  // X density 1
    EXPECT_EQ(app0[9], 1);
    EXPECT_EQ(app0[10], 0);  // Y density 1
    EXPECT_EQ(app0[11], 1);

    EXPECT_EQ(segs.count(0xC2), 0u) << "progressive";
    EXPECT_EQ(segs.count(0xC1), 0u) << "extended";
    ASSERT_EQ(segs.count(0xC0), 1u) << "baseline frame";
    const Bytes& sof = segs.find(0xC0)->second;
    ASSERT_EQ(sof.size(), 6u + 3 * 3);
    EXPECT_EQ(sof[0], 8);
    EXPECT_EQ((sof[1] << 8) | sof[2], 108);
    EXPECT_EQ((sof[3] << 8) | sof[4], 192);
    EXPECT_EQ(sof[5], 3);
    EXPECT_EQ(sof[7], 0x22);   // Y 2x2
    EXPECT_EQ(sof[10], 0x11);  // Cb 1x1
    EXPECT_EQ(sof[13], 0x11);  // Cr 1x1
    EXPECT_EQ(segs.count(0xDD), 0u) << "no restart interval";
    EXPECT_EQ(segs.count(0xDA), 1u);

    EXPECT_NE(dcLumaBits(jpeg), kStandardLumaDcBits);
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, false, 75, false, 0), kConvertOk);
    EXPECT_EQ(dcLumaBits(readFile(jpg)), kStandardLumaDcBits);
}

TEST_F(ImageEncodingTest, OutputMatchesTheReferenceEncoder) {
    // 203 is odd on purpose: rows carry padding the encoder must skip.
    const std::string bmp = bmpWith(makeBmp(203, 77));
    const std::string jpg = file("out.jpg").string();
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, false, 75, true, 0), kConvertOk);
    EXPECT_EQ(readFile(jpg), cjpeg("-quality 75 -optimize", bmp));
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, false, 75, false, 0), kConvertOk);
    EXPECT_EQ(readFile(jpg), cjpeg("-quality 75", bmp));
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, false, 40, false, 30), kConvertOk);
    EXPECT_EQ(readFile(jpg), cjpeg("-quality 40 -smooth 30", bmp));
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, true, 75, true, 0), kConvertOk);
    EXPECT_EQ(readFile(jpg), cjpeg("-grayscale -quality 75 -optimize", bmp));
}

TEST_F(ImageEncodingTest, RowOrderAndHeaderFormDoNotChangeThePicture) {
    const Bytes bottomUp = makeBmp(64, 53);
    const std::string a = bmpWith(bottomUp, "bottom-up.bmp");
    const std::string b = bmpWith(makeBmp(64, 53, true), "top-down.bmp");
    const std::string c = bmpWith(makeBmp(64, 53, false, true), "core.bmp");
    ASSERT_EQ(convertBmpToJpg(a, file("a.jpg").string(), false, 75, true), kConvertOk);
    ASSERT_EQ(convertBmpToJpg(b, file("b.jpg").string(), false, 75, true), kConvertOk);
    ASSERT_EQ(convertBmpToJpg(c, file("c.jpg").string(), false, 75, true), kConvertOk);
    EXPECT_EQ(readFile(file("a.jpg")), readFile(file("b.jpg")));
    EXPECT_EQ(readFile(file("a.jpg")), readFile(file("c.jpg")));
    EXPECT_EQ(readFile(a), bottomUp) << "the source must stay as it was";
}

TEST_F(ImageEncodingTest, DecodedPixelsSitWhereTheBmpHadThem) {
    const std::string bmp = bmpWith(makeBmp(80, 60));
    const std::string jpg = file("out.jpg").string();
    ASSERT_EQ(convertBmpToJpg(bmp, jpg, false, 90, true), kConvertOk);
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(jpg)));
    ASSERT_EQ(image.width(), 80);
    ASSERT_EQ(image.height(), 60);
    for (auto [x, y] : {std::pair{10, 10}, {70, 10}, {10, 50}, {70, 50}}) {
        const Rgb want = patternPixel(x, y, 80, 60);
        const QRgb got = image.pixel(x, y);
        EXPECT_NEAR(qRed(got), want.r, 14) << x << "," << y;
        EXPECT_NEAR(qGreen(got), want.g, 14) << x << "," << y;
        EXPECT_NEAR(qBlue(got), want.b, 14) << x << "," << y;
    }

    ASSERT_EQ(convertBmpToJpg(bmp, jpg, true, 90, true), kConvertOk);
    ASSERT_TRUE(image.load(QString::fromStdString(jpg)));
    EXPECT_TRUE(image.isGrayscale());
    const Rgb red = patternPixel(10, 10, 80, 60);
    EXPECT_NEAR(qGray(image.pixel(10, 10)), 0.299 * red.r + 0.587 * red.g + 0.114 * red.b, 8);
}

TEST_F(ImageEncodingTest, JpegSourceIsReencoded) {
    const std::string bmp = bmpWith(makeBmp(40, 30));
    ASSERT_EQ(convertBmpToJpg(bmp, file("first.jpg").string(), false, 90), kConvertOk);
    ASSERT_EQ(convertBmpToJpg(file("first.jpg").string(), file("second.jpg").string(), true, 60),
              kConvertOk);
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(file("second.jpg").string())));
    EXPECT_EQ(image.size(), QSize(40, 30));
    EXPECT_TRUE(image.isGrayscale());
}

}  // namespace
}  // namespace lumora::platform
