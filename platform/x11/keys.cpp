// Key observation on X11. A key pressed and released between two polls of the capture timer
// must still count, which XQueryKeymap alone cannot tell: XInput2 raw key events delivered to
// the root window give every press, whoever has the focus, without grabbing anything. The
// keymap query answers "down now" for a key held across polls. A caller that watches the keys
// is told each change at once: the connection's socket wakes the Qt event loop.
// A capture key pressed while Ctrl, Shift, Alt or Super is held belongs to someone else's
// shortcut (Shift+Insert pastes, Ctrl+Insert copies): that press is neither told nor reported.
// The modifiers are followed through the same raw events, so the order of the presses decides,
// not the state at the moment the GUI thread gets to them.
#include "platform/keys.h"
#include "platform/x11/x11_session.h"

// Qt's headers before X11's, whose macros (Status, Bool) they would trip over.
#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/gui_thread.h"
#include "platform/x11/errors.h"

namespace lumora::platform {

namespace {

struct ObservedKey {
    int virtualKey;
    KeySym keysym;
    KeyCode code = 0;
    bool pressedSinceQuery = false;  // latched by a raw press, cleared when this key is queried
    bool downAtLastCheck = false;    // down on the keymap and not part of a chord
    bool down = false;               // as the raw events (or the keymap, without them) say
    bool chord = false;              // this press began while a modifier was held
};

// The modifiers that turn a capture key into someone else's shortcut.
constexpr std::array<KeySym, 12> kModifierKeysyms{
    XK_Shift_L, XK_Shift_R, XK_Control_L, XK_Control_R, XK_Alt_L,   XK_Alt_R,
    XK_Meta_L,  XK_Meta_R,  XK_Super_L,   XK_Super_R,   XK_Hyper_L, XK_Hyper_R};

class KeyMonitor {
public:
    static KeyMonitor& instance() {
        static KeyMonitor monitor;
        return monitor;
    }

    std::int32_t query(int virtualKey) {
        const std::int32_t state = queryLocked(virtualKey);
        // Changes read by this query reach the watcher before the caller acts on the state.
        deliverChanges();
        return state;
    }

    // Starts (or with an empty function stops) telling key changes as they arrive. False when
    // there is no connection, no raw key events or no event loop to wake.
    bool watch(DesktopSession::KeyChanged changed) {
        std::unique_lock lock(mutex_);
        if (!changed) {
            changed_ = {};
            if (notifier_)
                delete notifier_.data();
            return true;
        }
        QCoreApplication* app = QCoreApplication::instance();
        if (!display_ || !rawEvents_ || app == nullptr)
            return false;
        changed_ = std::move(changed);
        if (!notifier_) {
            // Owned by the application object: the monitor outlives it.
            notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, app);
            QObject::connect(notifier_, &QSocketNotifier::activated, [this] { deliverChanges(); });
        }
        lock.unlock();
        // Whatever already waits in the connection's queue would not wake the notifier.
        postToGuiThread([this] { deliverChanges(); });
        return true;
    }

    // Reads what has arrived and tells the watcher, outside the lock (it may capture, which
    // asks this monitor for the active window). Changes that arrived together are told with
    // PrintScreen's first, so both keys pressed at once give the screen before the window.
    void deliverChanges() {
        std::vector<std::pair<int, bool>> changes;
        DesktopSession::KeyChanged changed;
        {
            std::lock_guard lock(mutex_);
            if (!display_)
                return;
            drainEvents();
            changes.swap(pending_);
            changed = changed_;
        }
        if (!changed)
            return;
        std::stable_sort(changes.begin(), changes.end(), [](const auto& a, const auto& b) {
            return a.first == kVkPrintScreen && b.first != kVkPrintScreen;
        });
        for (const auto& [virtualKey, down] : changes)
            changed(virtualKey, down);
    }

private:
    std::int32_t queryLocked(int virtualKey) {
        std::lock_guard lock(mutex_);
        ObservedKey* key = find(virtualKey);
        if (!key || !display_)
            return 0;
        drainEvents();
        // A keymap round trip is only needed when something may have changed: a raw event of
        // an observed key arrived, or a key was down last time (held keys are re-checked on
        // every poll rather than trusted), or raw events are not available at all.
        bool anyDown = false;
        for (const auto& k : keys_)
            anyDown = anyDown || k.downAtLastCheck;
        if (keymapStale_ || anyDown || !rawEvents_)
            refreshDownState();
        std::int32_t state = 0;
        if (key->downAtLastCheck)
            state |= 0x8000;
        if (key->pressedSinceQuery)
            state |= 1;
        key->pressedSinceQuery = false;
        return state;
    }

public:
    WindowHandle activeWindow() {
        const WindowHandle window = activeWindowLocked();
        // The reply may have brought key events along into Xlib's queue, where the socket
        // notifier cannot see them.
        bool queued = false;
        {
            std::lock_guard lock(mutex_);
            queued = display_ && changed_ && XEventsQueued(display_, QueuedAlready) > 0;
        }
        if (queued)
            postToGuiThread([this] { deliverChanges(); });
        return window;
    }

private:
    WindowHandle activeWindowLocked() {
        std::lock_guard lock(mutex_);
        if (!display_)
            return 0;
        x11::ErrorTrap trap(display_);
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long remaining = 0;
        unsigned char* data = nullptr;
        const int status =
            XGetWindowProperty(display_, DefaultRootWindow(display_), activeWindowAtom_, 0, 1,
                               False, XA_WINDOW, &type, &format, &count, &remaining, &data);
        WindowHandle window = 0;
        if (status == Success && !trap.failed() && data && type == XA_WINDOW && format == 32 &&
            count == 1) {
            // Format-32 properties come back as longs whatever the server's word size.
            window = static_cast<WindowHandle>(*reinterpret_cast<unsigned long*>(data));
        }
        if (data)
            XFree(data);
        return window;
    }

    KeyMonitor() {
        display_ = XOpenDisplay(nullptr);
        if (!display_)
            return;
        activeWindowAtom_ = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        lookUpKeycodes();
        selectRawEvents();
        // Whether a key or a modifier is already held when observation starts is only known
        // from the keymap; raw events selected before it change it from there.
        refreshDownState();
    }

    // The connection lives for the whole process: the monitor is a function-local static and
    // X connections are reclaimed by the server when the process ends.
    ~KeyMonitor() = default;

    ObservedKey* find(int virtualKey) {
        for (auto& k : keys_) {
            if (k.virtualKey == virtualKey)
                return &k;
        }
        return nullptr;
    }

    void lookUpKeycodes() {
        for (auto& k : keys_)
            k.code = XKeysymToKeycode(display_, k.keysym);
        // Every keycode whose keysyms include a modifier: a keymap may give one several keys.
        modifierCode_.reset();
        int minCode = 0, maxCode = 0;
        XDisplayKeycodes(display_, &minCode, &maxCode);
        int perCode = 0;
        KeySym* map = XGetKeyboardMapping(display_, static_cast<KeyCode>(minCode),
                                          maxCode - minCode + 1, &perCode);
        if (map == nullptr)
            return;
        for (int code = minCode; code <= maxCode; ++code) {
            for (int i = 0; i < perCode; ++i) {
                const KeySym sym = map[(code - minCode) * perCode + i];
                if (std::find(kModifierKeysyms.begin(), kModifierKeysyms.end(), sym) !=
                    kModifierKeysyms.end())
                    modifierCode_.set(static_cast<std::size_t>(code));
            }
        }
        XFree(map);
    }

    bool modifierHeld() const { return (modifierDown_ & modifierCode_).any(); }

    // A capture key's press: decided once, when the key goes down, by the modifiers held then.
    // A key's auto-repeat keeps the decision of its first press.
    void keyWentDown(ObservedKey& k) {
        if (!k.down)
            k.chord = modifierHeld();
        k.down = true;
    }

    void selectRawEvents() {
        int event = 0;
        int error = 0;
        if (!XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error))
            return;
        int major = 2;
        int minor = 0;
        if (XIQueryVersion(display_, &major, &minor) != Success || major < 2)
            return;
        std::array<unsigned char, XIMaskLen(XI_LASTEVENT)> mask{};
        XISetMask(mask.data(), XI_RawKeyPress);
        XISetMask(mask.data(), XI_RawKeyRelease);
        XIEventMask eventMask{};
        eventMask.deviceid = XIAllMasterDevices;
        eventMask.mask_len = static_cast<int>(mask.size());
        eventMask.mask = mask.data();
        x11::ErrorTrap trap(display_);
        XISelectEvents(display_, DefaultRootWindow(display_), &eventMask, 1);
        rawEvents_ = !trap.failed();
    }

    // Reads whatever has arrived without blocking: XPending flushes and reads the socket but
    // makes no round trip, which keeps an idle poll cheap.
    void drainEvents() {
        while (XPending(display_) > 0) {
            XEvent event;
            XNextEvent(display_, &event);
            if (event.type == MappingNotify) {
                XRefreshKeyboardMapping(&event.xmapping);
                lookUpKeycodes();
                keymapStale_ = true;
                continue;
            }
            if (event.type != GenericEvent || event.xcookie.extension != xiOpcode_)
                continue;
            if (!XGetEventData(display_, &event.xcookie))
                continue;
            const int type = event.xcookie.evtype;
            if (type == XI_RawKeyPress || type == XI_RawKeyRelease) {
                const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
                const bool press = type == XI_RawKeyPress;
                if (raw->detail >= 0 && raw->detail < static_cast<int>(modifierDown_.size()))
                    modifierDown_.set(static_cast<std::size_t>(raw->detail), press);
                for (auto& k : keys_) {
                    if (k.code == 0 || raw->detail != k.code)
                        continue;
                    if (press) {
                        keyWentDown(k);
                    } else {
                        k.down = false;
                    }
                    // A chord's press is nobody's capture; its release is told all the same
                    // (a watcher ignores the release of a key it never saw go down).
                    if (press && k.chord)
                        continue;
                    if (press)
                        k.pressedSinceQuery = true;
                    if (changed_)
                        pending_.emplace_back(k.virtualKey, press);
                    keymapStale_ = true;
                }
            }
            XFreeEventData(display_, &event.xcookie);
        }
    }

    void refreshDownState() {
        char keymap[32] = {};
        XQueryKeymap(display_, keymap);
        auto isDown = [&](unsigned code) { return (keymap[code / 8] & (1 << (code % 8))) != 0; };
        // With raw events the keymap only says which modifiers were held before the first of
        // them: later it is newer than the events read so far, and a modifier released after
        // a capture key's still queued press would then count as up for that press.
        const bool keymapDecides = !rawEvents_ || !keymapSeen_;
        if (keymapDecides) {
            for (unsigned code = 0; code < modifierDown_.size(); ++code)
                modifierDown_.set(code, isDown(code));
        }
        for (auto& k : keys_) {
            const bool downNow = k.code != 0 && isDown(k.code);
            if (!downNow) {
                k.down = false;
            } else if (keymapDecides) {
                // No raw events to tell the order, or a key already held when observation
                // started: the modifiers held now decide.
                keyWentDown(k);
            }
            // With raw events, a key down on the keymap whose press is still queued counts
            // once its press has been read and judged.
            k.downAtLastCheck = downNow && k.down && !k.chord;
        }
        keymapSeen_ = true;
        keymapStale_ = false;
    }

    std::mutex mutex_;
    Display* display_ = nullptr;
    Atom activeWindowAtom_ = None;
    int xiOpcode_ = -1;
    bool rawEvents_ = false;
    bool keymapStale_ = false;
    bool keymapSeen_ = false;
    std::bitset<256> modifierCode_;
    std::bitset<256> modifierDown_;
    std::array<ObservedKey, 2> keys_{{{kVkPrintScreen, XK_Print}, {kVkInsert, XK_Insert}}};
    DesktopSession::KeyChanged changed_;
    std::vector<std::pair<int, bool>> pending_;
    QPointer<QSocketNotifier> notifier_;
};

}  // namespace

namespace x11 {

std::int32_t asyncKeyState(int virtualKey) {
    return KeyMonitor::instance().query(virtualKey);
}

WindowHandle foregroundWindow() {
    return KeyMonitor::instance().activeWindow();
}

bool watchCaptureKeys(DesktopSession::KeyChanged changed) {
    return KeyMonitor::instance().watch(std::move(changed));
}

}  // namespace x11

}  // namespace lumora::platform
