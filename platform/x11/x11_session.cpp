#include "platform/x11/x11_session.h"

namespace lumora::platform::x11 {

namespace {

class X11Session final : public DesktopSession {
public:
    std::string kind() const override { return "x11"; }
    Bytes takeSnapshot(WindowHandle window, int width, int height) override {
        return x11::takeSnapshot(window, width, height);
    }
    std::optional<ScreenRect> snapshotArea(WindowHandle window) override {
        return x11::snapshotArea(window);
    }
    WindowHandle foregroundWindow() override { return x11::foregroundWindow(); }
    std::int32_t asyncKeyState(int virtualKey) override { return x11::asyncKeyState(virtualKey); }
    bool watchCaptureKeys(KeyChanged changed) override {
        return x11::watchCaptureKeys(std::move(changed));
    }
};

}  // namespace

std::unique_ptr<DesktopSession> makeSession() {
    return std::make_unique<X11Session>();
}

}  // namespace lumora::platform::x11
