#include "capture/capture_and_save.h"

#include <cstdint>
#include <limits>
#include <string>

#include "assets/assets.h"
#include "capture/file_naming.h"
#include "platform/capture_files.h"
#include "platform/files.h"
#include "platform/image_encoding.h"
#include "platform/snapshot.h"
#include "platform/sound.h"
#include "settings/settings_store.h"
#include "ui/runtime.h"
#include "ui/windows.h"

namespace lumora::capture {

namespace {

constexpr int kJpegQuality = 75;
// Windows' hidden attribute; a no-op here (the temporary name starts with "."), kept so the
// temporary file is marked the same way wherever the file layer can.
constexpr std::uint32_t kHiddenAttribute = 2;

// The folder as the main window shows it. Until start-up has set the label (it shows its
// placeholder while the logo splash plays) or when no main window exists, the label names no
// folder; a capture then goes to the folder start-up is about to show instead of being lost or
// landing at a path relative to the current directory.
std::string captureFolder() {
    std::string folder = ui::controlText(ui::kMainWindow, "透明标签1");
    if (folder.empty() || folder.front() != '/')
        folder = platform::defaultCaptureFolder();
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

CaptureOutcome saved(std::string path) {
    return {true, std::move(path), {}};
}

CaptureOutcome lost(std::string why) {
    return {false, {}, std::move(why)};
}

CaptureOutcome saveBmp(const std::string& base, const platform::SnapshotImage& image) {
    const std::string path = platform::createNewFile(base, ".bmp");
    if (path.empty())
        return lost("the folder cannot take a new file");
    // An empty snapshot leaves the empty file, which is how a failed capture shows; a write
    // that fails halfway would leave a truncated picture, which is worse than none.
    if (!platform::writeFileBytes(path, image)) {
        if (!image.empty())
            platform::deleteFile(path);
        return lost("the file could not be written");
    }
    if (image.empty())
        return lost("no picture");
    return saved(path);
}

CaptureOutcome saveJpg(const std::string& folder, const std::string& base,
                       const platform::SnapshotImage& image) {
    const std::string temp = platform::createTemporaryBmp(folder);
    if (temp.empty())
        return lost("the folder cannot take a new file");  // nothing to convert
    platform::writeFileBytes(temp, image);
    platform::setFileAttributes(temp, kHiddenAttribute);
    const std::string path = platform::createNewFile(base, ".jpg");
    CaptureOutcome outcome = saved(path);
    if (path.empty()) {
        outcome = lost("the folder cannot take a new file");
    } else if (platform::convertBmpToJpg(temp, path, false, kJpegQuality, true, 0) !=
               platform::kConvertOk) {
        // The reserved file is ours and holds nothing usable.
        platform::deleteFile(path);
        outcome = lost(image.empty() ? "no picture" : "the JPEG could not be written");
    }
    platform::deleteFile(temp);
    return outcome;
}

void playShutter(int choice) {
    if (choice < 1 || choice > 3)
        return;
    const std::string name = "shutter" + std::to_string(choice) + ".wav";
    platform::playWavData(assets::find(name), false);
}

}  // namespace

void captureAndSave(platform::WindowHandle window, CaptureKind kind, CaptureDone done) {
    CaptureSettings& settings = captureSettings();
    const std::string stem = makeFileStem(kind);
    const std::string folder = captureFolder();
    const platform::SnapshotImage image =
        platform::takeSnapshot(window, settings.outputWidth, settings.outputHeight);
    CaptureOutcome outcome = lost("no capture folder");
    if (!folder.empty()) {
        if (settings.imageEngine == ImageEngine::Jpg)
            outcome = saveJpg(folder, folder + stem, image);
        else
            outcome = saveBmp(folder + stem, image);
    }
    playShutter(settings.soundChoice);
    settings::writeNumber(settings::Option::Counter, settings.captureCounter);
    if (settings.captureCounter < std::numeric_limits<std::int64_t>::max())
        ++settings.captureCounter;
    if (done)
        done(outcome);
}

}  // namespace lumora::capture
