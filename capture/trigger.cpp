#include "capture/trigger.h"

#include <array>

#include "capture/capture_and_save.h"
#include "platform/desktop_session.h"
#include "platform/gui_thread.h"
#include "platform/keys.h"

namespace lumora::capture {

namespace {

// A key that stays down captures again at this period, counted from its press; the main
// window's hint warns about it.
constexpr int kHeldKeyPeriodMs = 300;

void captureFor(int virtualKey) {
    if (virtualKey == platform::kVkPrintScreen)
        captureAndSave(0, CaptureKind::Manual);
    else
        captureAndSave(platform::foregroundWindow(), CaptureKind::Manual);
}

struct WatchedKey {
    explicit WatchedKey(int key) : virtualKey(key) {}
    int virtualKey;
    bool down = false;
    platform::RepeatingTimer repeat;
};

// Keys told by the session as they change. The tick of the key timer stays as a safety net:
// it only catches what the pushed changes missed, and so never captures a press twice.
struct KeyWatch {
    bool asked = false;
    bool pushing = false;
    std::array<WatchedKey, 2> keys{WatchedKey(platform::kVkPrintScreen),
                                   WatchedKey(platform::kVkInsert)};

    WatchedKey* find(int virtualKey) {
        for (auto& key : keys) {
            if (key.virtualKey == virtualKey)
                return &key;
        }
        return nullptr;
    }
};

KeyWatch& watch() {
    static KeyWatch instance;
    return instance;
}

void keyChanged(int virtualKey, bool down) {
    WatchedKey* key = watch().find(virtualKey);
    if (key == nullptr || key->down == down)
        return;  // a repeat of a key already down, or a release already seen
    key->down = down;
    if (!down) {
        key->repeat.stop();
        return;
    }
    key->repeat.start(kHeldKeyPeriodMs, [virtualKey] { captureFor(virtualKey); });
    captureFor(virtualKey);
}

// The key timer of a session that cannot push changes: every key found down or pressed since
// the last tick captures once per tick.
void pollOnly() {
    // Insert is sampled after the screen capture has been taken; the foreground window is
    // looked up only when it is needed.
    for (const int virtualKey : {platform::kVkPrintScreen, platform::kVkInsert}) {
        if (platform::asyncKeyState(virtualKey) != 0)
            captureFor(virtualKey);
    }
}

}  // namespace

void pollHotkeys(const ui::EventArgs&) {
    KeyWatch& w = watch();
    if (!w.asked) {
        w.asked = true;
        w.pushing = platform::desktopSession().watchCaptureKeys(&keyChanged);
    }
    if (!w.pushing) {
        pollOnly();
        return;
    }
    // Querying delivers any change still queued first, so the state below agrees with what
    // the pushed changes said; what remains is a press or release they never told.
    for (WatchedKey& key : w.keys) {
        const bool downNow = (platform::asyncKeyState(key.virtualKey) & 0x8000) != 0;
        if (downNow != key.down)
            keyChanged(key.virtualKey, downNow);
    }
}

void stopWatchingKeys() {
    KeyWatch& w = watch();
    if (w.pushing)
        platform::desktopSession().watchCaptureKeys({});
    for (WatchedKey& key : w.keys) {
        key.repeat.stop();
        key.down = false;
    }
    w.pushing = false;
    w.asked = false;
}

}  // namespace lumora::capture
