#pragma once
// What differs between the kinds of desktop session the program runs in. On an X11 desktop the
// program reads the screen and the keys itself; a Wayland compositor keeps both to itself and
// hands them out through the desktop portals. Everything above the platform layer calls the
// free operations of snapshot.h and keys.h, which go to the session chosen here.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/types.h"

namespace lumora::platform {

class DesktopSession {
public:
    virtual ~DesktopSession() = default;

    // "x11", "wayland", ...: for messages and tests.
    virtual std::string kind() const = 0;

    // As takeSnapshot in snapshot.h.
    virtual Bytes takeSnapshot(WindowHandle window, int width, int height) = 0;

    // The same snapshot for a caller that can wait without blocking: `done` gets the image, or
    // an empty image and the cause of the failure. A session whose picture comes from another
    // process (a portal that may first ask the user) answers later, on the GUI thread; one
    // that can grab at once calls `done` before returning.
    using SnapshotDone = std::function<void(Bytes image, std::string failure)>;
    virtual void requestSnapshot(WindowHandle window, int width, int height, SnapshotDone done) {
        Bytes image = takeSnapshot(window, width, height);
        std::string failure = image.empty() ? lastFailure() : std::string();
        done(std::move(image), std::move(failure));
    }

    // The screen rectangle a snapshot of `window` (0: the primary screen) shows now, in the
    // coordinates the program's own windows are placed in; nothing when this session cannot
    // tell. Lets a caller find its own windows in the picture.
    virtual std::optional<ScreenRect> snapshotArea(WindowHandle window) {
        (void)window;
        return std::nullopt;
    }

    // The window that has the focus, whichever program it belongs to; 0 when none is known.
    virtual WindowHandle foregroundWindow() = 0;

    // As asyncKeyState in keys.h; a session that cannot observe keys answers 0.
    virtual std::int32_t asyncKeyState(int virtualKey) = 0;

    // Tells `changed` on the GUI thread as soon as a capture key (kVkPrintScreen, kVkInsert of
    // keys.h) goes down or up, for a caller that would rather not wait for its next poll. False
    // when this session cannot tell key changes as they happen; the caller then polls
    // asyncKeyState. A second call replaces the first; an empty function stops watching.
    // A capture key pressed while Ctrl, Shift, Alt or Super is held is not told to go down:
    // that press belongs to another program's shortcut (Shift+Insert pastes in most of them).
    using KeyChanged = std::function<void(int virtualKey, bool down)>;
    virtual bool watchCaptureKeys(KeyChanged changed) {
        (void)changed;
        return false;
    }

    // Why the last snapshot came back empty, in a few words for a person ("no display", ...);
    // empty when it did not, or when the session cannot tell.
    virtual std::string lastFailure() const { return {}; }
};

// Before the application object is made: in a Wayland session the program's windows stay on
// XWayland (QT_QPA_PLATFORM=xcb, unless the user chose a platform), so that positions, the
// balloon, the splash and always-on-top behave as on X11.
void prepareDisplayEnvironment();

// The session of this process, made on first use from the environment it was started in.
DesktopSession& desktopSession();

// Replaces the session (tests, or a start-up that knows better); the old one is destroyed.
void setDesktopSession(std::unique_ptr<DesktopSession> session);

}  // namespace lumora::platform
