// The program's pictures, decoded on the build machine into rows (tools/make_bitmaps) and
// compiled in deflated, each inflated when it is first drawn; and the window icon from the
// ".ico" asset.
#include <algorithm>
#include <cstring>
#include <map>
#include <span>
#include <string>
#include <utility>

#include "assets/assets.h"
#include "ui/win32/state.h"

#include <zlib.h>

namespace lumora::ui::win32 {

namespace bitmaps {
// Generated from the pictures of assets/ at build time.
std::span<const std::uint8_t> find(std::string_view fileName);
}  // namespace bitmaps

namespace {

std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct Decoded {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // aligned for GDI
};

const Decoded* decoded(std::string_view assetName) {
    static std::map<std::string, Decoded, std::less<>> cache;
    if (auto found = cache.find(assetName); found != cache.end())
        return found->second.pixels.empty() ? nullptr : &found->second;
    Decoded picture;
    const auto bytes = bitmaps::find(std::string(assetName) + ".bitmap");
    if (bytes.size() >= 12 && std::memcmp(bytes.data(), "LBMZ", 4) == 0) {
        const std::uint32_t width = get32(bytes.data() + 4);
        const std::uint32_t height = get32(bytes.data() + 8);
        const std::uint64_t count = std::uint64_t{width} * height;
        // A picture of up to 64 megapixels; its size in bytes fits zlib's 32-bit lengths here.
        if (width > 0 && height > 0 && count <= (std::uint64_t{1} << 26)) {
            picture.pixels.resize(count);
            uLongf size = static_cast<uLongf>(count * 4);
            // Whole only when the stream ends exactly at the last pixel.
            if (uncompress(reinterpret_cast<Bytef*>(picture.pixels.data()), &size,
                           bytes.data() + 12, static_cast<uLong>(bytes.size() - 12)) == Z_OK &&
                size == count * 4) {
                picture.width = static_cast<int>(width);
                picture.height = static_cast<int>(height);
            } else {
                picture.pixels.clear();
            }
        }
    }
    auto [it, inserted] = cache.emplace(std::string(assetName), std::move(picture));
    return it->second.pixels.empty() ? nullptr : &it->second;
}

BITMAPINFO infoFor(const Picture& picture) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = -picture.height;  // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace

Picture findPicture(std::string_view assetName, int dpi) {
    if (assetName.empty())
        return {};
    const Decoded* plain = decoded(assetName);
    if (plain == nullptr)
        return {};
    Picture best{plain->width, plain->height,
                 reinterpret_cast<const std::uint8_t*>(plain->pixels.data()), 96};
    if (dpi <= 96)
        return best;
    // "name.png" -> "name@1.5x.png", "name@2x.png": drawn for 144 and 192 dpi.
    const auto dot = assetName.rfind('.');
    const std::string_view stem = assetName.substr(0, dot);
    const std::string_view extension =
        dot == std::string_view::npos ? std::string_view() : assetName.substr(dot);
    for (const auto& [suffix, copyDpi] :
         {std::pair<std::string_view, int>{"@1.5x", 144}, {"@2x", 192}}) {
        const Decoded* copy =
            decoded(std::string(stem) + std::string(suffix) + std::string(extension));
        if (copy == nullptr)
            continue;
        best = Picture{copy->width, copy->height,
                       reinterpret_cast<const std::uint8_t*>(copy->pixels.data()), copyDpi};
        if (copyDpi >= dpi)
            break;
    }
    return best;
}

void drawPicture(HDC dc, const Picture& picture, int x, int y, int dpi) {
    if (!picture)
        return;
    const int width = picture.widthAt(dpi);
    const int height = picture.heightAt(dpi);
    if (width != picture.width || height != picture.height) {
        drawPictureStretched(dc, picture, RECT{x, y, x + width, y + height});
        return;
    }
    const BITMAPINFO info = infoFor(picture);
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(picture.width),
                      static_cast<DWORD>(picture.height), 0, 0, 0,
                      static_cast<UINT>(picture.height), picture.pixels, &info, DIB_RGB_COLORS);
}

void drawPictureStretched(HDC dc, const Picture& picture, RECT target) {
    if (!picture)
        return;
    const BITMAPINFO info = infoFor(picture);
    const int oldMode = SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, target.left, target.top, target.right - target.left,
                  target.bottom - target.top, 0, 0, picture.width, picture.height, picture.pixels,
                  &info, DIB_RGB_COLORS, SRCCOPY);
    SetStretchBltMode(dc, oldMode);
}

void drawBackground(HDC dc, const WindowDef& def, RECT client, int dpi) {
    const COLORREF colour = def.background ? static_cast<COLORREF>(*def.background & 0x00FFFFFF)
                                           : GetSysColor(COLOR_BTNFACE);
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &client, brush);
    DeleteObject(brush);
    const Picture picture = findPicture(def.backgroundPicture, dpi);
    if (!picture)
        return;
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    switch (def.placement) {
        case Placement::TopLeft:
            drawPicture(dc, picture, 0, 0, dpi);
            break;
        case Placement::Tiled:
            for (int y = 0; y < height; y += std::max(1, picture.heightAt(dpi))) {
                for (int x = 0; x < width; x += std::max(1, picture.widthAt(dpi)))
                    drawPicture(dc, picture, x, y, dpi);
            }
            break;
        case Placement::CentredFit: {
            int w = picture.widthAt(dpi);
            int h = picture.heightAt(dpi);
            if (w > width || h > height) {
                // Scaled down to fit, keeping its proportions.
                if (static_cast<long long>(width) * h <= static_cast<long long>(height) * w) {
                    h = static_cast<int>(static_cast<long long>(h) * width / w);
                    w = width;
                } else {
                    w = static_cast<int>(static_cast<long long>(w) * height / h);
                    h = height;
                }
            }
            const RECT target{(width - w) / 2, (height - h) / 2, (width - w) / 2 + w,
                              (height - h) / 2 + h};
            drawPictureStretched(dc, picture, target);
            break;
        }
        case Placement::Stretched:
            drawPictureStretched(dc, picture, client);
            break;
    }
}

HICON loadIcon(std::string_view assetName, int size) {
    const auto bytes = assets::find(assetName);
    // An icon file: a 6-byte header, then 16-byte entries pointing at the images.
    if (bytes.size() < 6 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 1 || bytes[3] != 0)
        return nullptr;
    const std::size_t count = bytes[4] | (bytes[5] << 8);
    const std::uint8_t* best = nullptr;
    std::uint32_t bestSize = 0;
    int bestScore = -1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = 6 + 16 * i;
        if (at + 16 > bytes.size())
            break;
        const std::uint8_t* entry = bytes.data() + at;
        const int width = entry[0] == 0 ? 256 : entry[0];
        const int bits = entry[6] | (entry[7] << 8);
        const std::uint32_t length = get32(entry + 8);
        const std::uint32_t offset = get32(entry + 12);
        if (offset > bytes.size() || length > bytes.size() - offset || length == 0)
            continue;
        // The exact size first, then the deepest colours; a larger image before a smaller one.
        int score =
            (width == size ? 100000 : 0) + (width > size ? 20000 - width : width * 10) + bits;
        if (score > bestScore) {
            bestScore = score;
            best = bytes.data() + offset;
            bestSize = length;
        }
    }
    if (best == nullptr)
        return nullptr;
    return CreateIconFromResourceEx(const_cast<PBYTE>(best), bestSize, TRUE, 0x00030000, size, size,
                                    LR_DEFAULTCOLOR);
}

}  // namespace lumora::ui::win32
