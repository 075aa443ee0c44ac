#include "platform/snapshot.h"

// GoogleTest before Xlib, whose macros (None, Bool) clash with its names.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>
#include <vector>

#include "platform/snapshot_bmp.h"
#include "tests/support/test_support.h"

namespace lumora::platform {
namespace {

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};

std::uint32_t le32(const SnapshotImage& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
std::uint32_t le16(const SnapshotImage& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}

int bmpWidth(const SnapshotImage& b) {
    return static_cast<std::int32_t>(le32(b, 18));
}
int bmpHeight(const SnapshotImage& b) {
    return static_cast<std::int32_t>(le32(b, 22));
}
std::size_t strideOf(int width) {
    return (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
}

// The pixel at (x, y) counted from the picture's top, read from the bottom-up BGR rows.
Rgb pixelAt(const SnapshotImage& b, int x, int y) {
    const std::size_t row = static_cast<std::size_t>(bmpHeight(b) - 1 - y);
    const std::size_t at = 54 + row * strideOf(bmpWidth(b)) + 3 * static_cast<std::size_t>(x);
    return {b[at + 2], b[at + 1], b[at]};
}

bool near(const Rgb& a, const Rgb& b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance &&
           std::abs(a.b - b.b) <= tolerance;
}

// Colours with three different channel values each, so any channel swap shows.
constexpr Rgb kTopLeft{200, 100, 50}, kTopRight{10, 60, 230}, kBottomLeft{0, 255, 128},
    kBottomRight{90, 30, 170};

class X11Fixture : public ::testing::Test {
protected:
    void SetUp() override {
        LUMORA_REQUIRE_X();
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        const Visual* visual = DefaultVisual(display, DefaultScreen(display));
        if (visual->red_mask != 0xFF0000 || visual->green_mask != 0xFF00 ||
            visual->blue_mask != 0xFF)
            GTEST_SKIP() << "the test paints 24-bit true colour";
        screenWidth = DisplayWidth(display, DefaultScreen(display));
        screenHeight = DisplayHeight(display, DefaultScreen(display));
    }
    void TearDown() override {
        if (display)
            XCloseDisplay(display);
    }

    // An unmanaged window (no frame), kept above managed ones; or a managed one when `managed`.
    Window createWindow(int x, int y, int width, int height, bool managed = false) {
        XSetWindowAttributes attributes{};
        attributes.override_redirect = managed ? False : True;
        attributes.background_pixel = 0;
        const Window w = XCreateWindow(display, DefaultRootWindow(display), x, y, width, height, 0,
                                       CopyFromParent, InputOutput, CopyFromParent,
                                       CWOverrideRedirect | CWBackPixel, &attributes);
        if (managed) {
            XSizeHints hints{};
            hints.flags = USPosition | USSize;
            hints.x = x;
            hints.y = y;
            hints.width = width;
            hints.height = height;
            XSetWMNormalHints(display, w, &hints);
            XStoreName(display, w, "snapshot test");
        }
        XMapRaised(display, w);
        XSync(display, False);
        return w;
    }

    void fill(Window w, int x, int y, int width, int height, Rgb c) {
        GC gc = XCreateGC(display, w, 0, nullptr);
        XSetForeground(display, gc, (c.r << 16) | (c.g << 8) | c.b);
        XFillRectangle(display, w, gc, x, y, width, height);
        XFreeGC(display, gc);
    }

    // Four quadrants of known colours, raised again in case another window came over ours.
    void paintQuadrants(Window w, int width, int height) {
        XRaiseWindow(display, w);
        fill(w, 0, 0, width / 2, height / 2, kTopLeft);
        fill(w, width / 2, 0, width - width / 2, height / 2, kTopRight);
        fill(w, 0, height / 2, width / 2, height - height / 2, kBottomLeft);
        fill(w, width / 2, height / 2, width - width / 2, height - height / 2, kBottomRight);
        XSync(display, False);
    }

    // Another test may briefly put a window over ours: capture again until `good` holds.
    SnapshotImage captureUntil(const std::function<void()>& repaint, WindowHandle window, int width,
                               int height, const std::function<bool(const SnapshotImage&)>& good) {
        SnapshotImage image;
        for (int attempt = 0; attempt < 50; ++attempt) {
            repaint();
            image = takeSnapshot(window, width, height);
            if (!image.empty() && good(image))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        return image;
    }

    Display* display = nullptr;
    int screenWidth = 0, screenHeight = 0;
};

bool quadrantsExact(const SnapshotImage& b) {
    const int w = bmpWidth(b), h = bmpHeight(b);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const Rgb want = y < h / 2 ? (x < w / 2 ? kTopLeft : kTopRight)
                                       : (x < w / 2 ? kBottomLeft : kBottomRight);
            if (!(pixelAt(b, x, y) == want))
                return false;
        }
    }
    return true;
}

void expectBmpHeader(const SnapshotImage& b, int width, int height) {
    const std::size_t stride = strideOf(width);
    ASSERT_EQ(b.size(), 54 + stride * height);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(le32(b, 2), b.size());
    EXPECT_EQ(le16(b, 6), 0u);
    EXPECT_EQ(le16(b, 8), 0u);
    EXPECT_EQ(le32(b, 10), 54u);
    EXPECT_EQ(le32(b, 14), 40u);
    EXPECT_EQ(bmpWidth(b), width);
    EXPECT_EQ(bmpHeight(b), height);
    EXPECT_EQ(le16(b, 26), 1u);
    EXPECT_EQ(le16(b, 28), 24u);
    EXPECT_EQ(le32(b, 30), 0u);
    EXPECT_EQ(le32(b, 34), stride * height);
    for (std::size_t at : {38u, 42u, 46u, 50u})
        EXPECT_EQ(le32(b, at), 0u) << "offset " << at;
}

// ---- packing and size rules, without a display ------------------------------------------------

TEST(SnapshotPacking, EveryWidthPacksLikeThePlainPerPixelLoop) {
    std::mt19937 random(7);
    // Widths around the 4- and 16-pixel steps of the fast paths, and odd screen widths.
    std::vector<int> widths;
    for (int w = 1; w <= 40; ++w)
        widths.push_back(w);
    widths.insert(widths.end(), {1366, 1367, 1919});
    for (int width : widths) {
        const int height = 3;
        const std::size_t pitch = 4 * static_cast<std::size_t>(width) + 8;  // rows may be wider
        std::vector<std::uint8_t> pixels(pitch * height);
        for (auto& byte : pixels)
            byte = static_cast<std::uint8_t>(random());
        const SnapshotImage b = snapshot::packBmp(pixels.data(), pitch, width, height);
        ASSERT_EQ(b.size(), 54 + strideOf(width) * height) << width;
        bool same = true;
        for (int y = 0; y < height && same; ++y) {
            const std::uint8_t* stored = b.data() + 54 + strideOf(width) * (height - 1 - y);
            for (int x = 0; x < width; ++x) {
                const std::uint8_t* p = pixels.data() + pitch * y + 4 * x;
                same = same && stored[3 * x] == p[0] && stored[3 * x + 1] == p[1] &&
                       stored[3 * x + 2] == p[2];
            }
            for (std::size_t pad = 3 * width; pad < strideOf(width); ++pad)
                same = same && stored[pad] == 0;
        }
        EXPECT_TRUE(same) << "width " << width;
    }
}

TEST(SnapshotPacking, SizeRules) {
    using snapshot::outputDimension;
    EXPECT_EQ(outputDimension(0, 1920), 1920);
    EXPECT_EQ(outputDimension(800, 1920), 800);
    EXPECT_EQ(outputDimension(-50, 1366), 683);
    EXPECT_EQ(outputDimension(-50, 1367), 684) << "683.5 rounds up";
    EXPECT_EQ(outputDimension(-5, 1366), 137) << "floor of 10 percent";
    EXPECT_EQ(outputDimension(-200, 768), 1536);
    EXPECT_EQ(outputDimension(-10, 4), std::nullopt);
    EXPECT_EQ(outputDimension(-13, 4), 1);
    EXPECT_EQ(outputDimension(-2147483647 - 1, 1920), std::nullopt) << "beyond int";
    EXPECT_EQ(snapshot::packBmp(nullptr, 0, 70000, 70000).size(), 0u) << "over 4 GiB";
}

TEST_F(X11Fixture, WindowCaptureHasTheExactBmpLayout) {
    // 1366 wide: 4098 bytes of pixels per row, padded to 4100.
    const int width = 1366, height = 24;
    const Window w = createWindow(17, 141, width, height);
    const SnapshotImage b =
        captureUntil([&] { paintQuadrants(w, width, height); }, w, 0, 0, quadrantsExact);
    expectBmpHeader(b, width, height);
    EXPECT_EQ(b.size(), 54u + 4100u * height);
    EXPECT_TRUE(quadrantsExact(b));
    // The first stored row is the picture's bottom row, blue-green-red per pixel.
    EXPECT_EQ(b[54], kBottomLeft.b);
    EXPECT_EQ(b[55], kBottomLeft.g);
    EXPECT_EQ(b[56], kBottomLeft.r);
    const std::size_t lastRow = 54 + 4100u * (height - 1);
    EXPECT_EQ(b[lastRow], kTopLeft.b);
    EXPECT_EQ(b[lastRow + 2], kTopLeft.r);
    for (int row = 0; row < height; ++row) {
        EXPECT_EQ(b[54 + 4100u * row + 4098], 0) << "padding of row " << row;
        EXPECT_EQ(b[54 + 4100u * row + 4099], 0) << "padding of row " << row;
    }
    XDestroyWindow(display, w);
}

TEST_F(X11Fixture, WholeScreenIsThePrimaryOutputWithOurWindowInPlace) {
    const int x = 233, y = 377, width = 64, height = 32;
    const Window w = createWindow(x, y, width, height);
    auto windowShows = [&](const SnapshotImage& b) {
        return pixelAt(b, x + 5, y + 5) == kTopLeft && pixelAt(b, x + 60, y + 28) == kBottomRight;
    };
    const SnapshotImage b =
        captureUntil([&] { paintQuadrants(w, width, height); }, 0, 0, 0, windowShows);
    // The test desktop has one output, so the primary output is the whole root.
    expectBmpHeader(b, screenWidth, screenHeight);
    EXPECT_TRUE(windowShows(b));
    EXPECT_EQ(pixelAt(b, x + 60, y + 5), kTopRight);
    EXPECT_EQ(pixelAt(b, x + 5, y + 28), kBottomLeft);
    XDestroyWindow(display, w);
}

TEST_F(X11Fixture, OutputSizeRules) {
    const int width = 1366, height = 30;
    const Window w = createWindow(29, 531, width, height);
    paintQuadrants(w, width, height);
    struct Case {
        int requestW, requestH, wantW, wantH;
    };
    // Percentages round to nearest like MulDiv: 10 % of 1366 is 136.6 -> 137.
    for (const Case c :
         {Case{0, 0, 1366, 30}, Case{800, 0, 800, 30}, Case{0, 45, 1366, 45},
          Case{800, 600, 800, 600}, Case{-50, -50, 683, 15}, Case{-5, -1, 137, 3},
          Case{-10, -10, 137, 3}, Case{-200, -200, 2732, 60}, Case{-33, 7, 451, 7}}) {
        paintQuadrants(w, width, height);
        const SnapshotImage b = takeSnapshot(w, c.requestW, c.requestH);
        SCOPED_TRACE(testing::Message() << c.requestW << " x " << c.requestH);
        expectBmpHeader(b, c.wantW, c.wantH);
    }
    XDestroyWindow(display, w);

    const Window tiny = createWindow(29, 600, 4, 4);
    EXPECT_TRUE(takeSnapshot(tiny, -10, 0).empty()) << "10 % of 4 rounds to 0";
    EXPECT_TRUE(takeSnapshot(tiny, 0, -10).empty());
    EXPECT_FALSE(takeSnapshot(tiny, -13, -13).empty()) << "13 % of 4 rounds to 1";
    // Larger than a BMP file can describe: refused, not attempted.
    EXPECT_TRUE(takeSnapshot(tiny, 70000, 70000).empty());
    EXPECT_TRUE(takeSnapshot(tiny, -2147483647 - 1, 0).empty());
    XDestroyWindow(display, tiny);
}

TEST_F(X11Fixture, ScalingKeepsThePictureInPlace) {
    const int width = 400, height = 200;
    const Window w = createWindow(611, 420, width, height);
    auto roughly = [](const SnapshotImage& b) {
        const int bw = bmpWidth(b), bh = bmpHeight(b);
        return near(pixelAt(b, bw / 4, bh / 4), kTopLeft, 3) &&
               near(pixelAt(b, 3 * bw / 4, bh / 4), kTopRight, 3) &&
               near(pixelAt(b, bw / 4, 3 * bh / 4), kBottomLeft, 3) &&
               near(pixelAt(b, 3 * bw / 4, 3 * bh / 4), kBottomRight, 3);
    };
    for (auto [rw, rh] : {std::pair{800, 600}, {-50, -30}, {123, 45}}) {
        const SnapshotImage b =
            captureUntil([&] { paintQuadrants(w, width, height); }, w, rw, rh, roughly);
        SCOPED_TRACE(testing::Message() << rw << " x " << rh);
        ASSERT_FALSE(b.empty());
        EXPECT_TRUE(roughly(b));
    }
    XDestroyWindow(display, w);
}

TEST_F(X11Fixture, PartsOutsideTheScreenAreBlack) {
    const int width = 200, height = 40;
    const int x = screenWidth - 50;
    const Window w = createWindow(x, 700, width, height);
    auto shape = [](const SnapshotImage& b) {
        return pixelAt(b, 10, 5) == kTopLeft && pixelAt(b, 10, 35) == kBottomLeft &&
               pixelAt(b, 60, 5) == Rgb{0, 0, 0} && pixelAt(b, 199, 39) == Rgb{0, 0, 0};
    };
    const SnapshotImage b = captureUntil([&] { paintQuadrants(w, width, height); }, w, 0, 0, shape);
    expectBmpHeader(b, width, height);
    EXPECT_TRUE(shape(b));
    XDestroyWindow(display, w);
}

TEST_F(X11Fixture, HandlesThatNameNoWindowGiveNothing) {
    const Window w = createWindow(40, 40, 20, 20);
    ASSERT_FALSE(takeSnapshot(w).empty());
    // Only the low 29 bits travel to the server; a larger number must not reach this window.
    EXPECT_TRUE(takeSnapshot(w | (WindowHandle{1} << 40)).empty());
    EXPECT_TRUE(takeSnapshot(w | (WindowHandle{1} << 30)).empty());
    XDestroyWindow(display, w);
    XSync(display, False);
    EXPECT_TRUE(takeSnapshot(w).empty());
    EXPECT_TRUE(takeSnapshot(w, 100, 100).empty());
    EXPECT_TRUE(takeSnapshot(0x1FFFFFFE).empty());
    // The trap kept the process alive and the connection usable.
    EXPECT_FALSE(takeSnapshot(0, 10, 10).empty());
}

TEST_F(X11Fixture, ManagedWindowIsCapturedWithItsFrame) {
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                       &format, &count, &after, &data);
    if (data)
        XFree(data);
    if (count == 0)
        GTEST_SKIP() << "no window manager";

    const int width = 300, height = 150;
    const Window client = createWindow(500, 300, width, height, true);
    const Atom extentsAtom = XInternAtom(display, "_NET_FRAME_EXTENTS", False);
    long extents[4] = {};
    Window frame = 0;
    ASSERT_TRUE(test::waitUntil([&] {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned n = 0;
        XQueryTree(display, client, &root, &parent, &children, &n);
        if (children)
            XFree(children);
        if (parent == root)
            return false;
        frame = parent;
        // The frame may nest the client deeper; climb to the child of the root.
        for (Window p = parent; p != root;) {
            frame = p;
            XQueryTree(display, p, &root, &p, &children, &n);
            if (children)
                XFree(children);
        }
        unsigned char* value = nullptr;
        XGetWindowProperty(display, client, extentsAtom, 0, 4, False, XA_CARDINAL, &type, &format,
                           &count, &after, &value);
        if (!value || count != 4) {
            if (value)
                XFree(value);
            return false;
        }
        for (int i = 0; i < 4; ++i)
            extents[i] = reinterpret_cast<long*>(value)[i];
        XFree(value);
        XWindowAttributes a{};
        XGetWindowAttributes(display, client, &a);
        return a.map_state == IsViewable;
    }));
    XWindowAttributes frameAttributes{};
    ASSERT_TRUE(XGetWindowAttributes(display, frame, &frameAttributes));
    const int frameWidth = frameAttributes.width + 2 * frameAttributes.border_width;
    const int frameHeight = frameAttributes.height + 2 * frameAttributes.border_width;
    EXPECT_EQ(frameWidth, width + extents[0] + extents[1]);
    EXPECT_EQ(frameHeight, height + extents[2] + extents[3]);

    // The client's top-left pixel sits at the frame extents' offset inside the capture.
    const int left = static_cast<int>(extents[0]), top = static_cast<int>(extents[2]);
    auto clientInside = [&](const SnapshotImage& b) {
        return pixelAt(b, left + 2, top + 2) == kTopLeft &&
               pixelAt(b, left + width - 3, top + height - 3) == kBottomRight;
    };
    const SnapshotImage b =
        captureUntil([&] { paintQuadrants(client, width, height); }, client, 0, 0, clientInside);
    expectBmpHeader(b, frameWidth, frameHeight);
    EXPECT_TRUE(clientInside(b));
    // Naming the frame itself gives the same rectangle.
    const SnapshotImage viaFrame = takeSnapshot(frame);
    ASSERT_FALSE(viaFrame.empty());
    EXPECT_EQ(bmpWidth(viaFrame), frameWidth);
    EXPECT_EQ(bmpHeight(viaFrame), frameHeight);
    XDestroyWindow(display, client);
}

TEST_F(X11Fixture, RepeatedAndGrowingCapturesReuseOneConnection) {
    // Small, then whole screen, then small again: the shared segment grows and is reused.
    const Window w = createWindow(90, 900, 50, 50);
    for (int i = 0; i < 3; ++i) {
        paintQuadrants(w, 50, 50);
        EXPECT_EQ(takeSnapshot(w).size(), 54u + strideOf(50) * 50);
        const SnapshotImage screen = takeSnapshot();
        EXPECT_EQ(screen.size(), 54u + strideOf(screenWidth) * screenHeight);
    }
    XDestroyWindow(display, w);
}

}  // namespace
}  // namespace lumora::platform
