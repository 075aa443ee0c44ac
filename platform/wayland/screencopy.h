#pragma once
// Pictures of an output straight from a wlroots compositor (sway, Hyprland, river, ...) through
// the wlr-screencopy protocol, on a Wayland connection of our own: the compositor copies the
// output into shared memory we keep across captures, with no file and no portal in between.
// Compositors without the protocol (GNOME, KDE) leave the Screenshot portal to do it.
#include <QImage>
#include <QRect>
#include <memory>
#include <string>
#include <vector>

namespace lumora::platform::wayland {

class Screencopy {
public:
    // An output of the compositor: where it lies in the logical layout (xdg-output; the
    // coordinates XWayland's root uses) and its name ("HEADLESS-1", "DP-1", ...).
    struct Output {
        QRect logical;
        std::string name;
    };

    // A connection to the compositor of WAYLAND_DISPLAY; empty, with the reason in `why`, when
    // there is none or it does not offer screencopy and shared memory.
    static std::unique_ptr<Screencopy> connect(std::string* why);
    ~Screencopy();
    Screencopy(const Screencopy&) = delete;
    Screencopy& operator=(const Screencopy&) = delete;

    // The outputs as the compositor describes them now.
    std::vector<Output> outputs();

    // The output named `name` as it shows now, in its own pixels (more than its logical size on
    // a scaled output). The image uses the kept shared memory: it is valid until the next
    // capture and must be copied to be kept. Null, with the cause in `failure`, when the
    // compositor could not copy it; a broken connection makes `broken()` true.
    QImage capture(const std::string& name, std::string* failure);

    bool broken() const;

    struct State;

private:
    explicit Screencopy(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The output that shows most of `area` (root or logical coordinates); the first output when
// `area` is empty or on none. -1 when there are no outputs.
int outputFor(const std::vector<Screencopy::Output>& outputs, const QRect& area);

// `area` (logical coordinates) out of the picture of an output lying at `logical`; the picture
// may have more pixels than its logical size (a scaled output). What lies outside the output is
// black, as on X11. Null when nothing is left.
QImage cropOutputPicture(const QImage& picture, const QRect& logical, const QRect& area);

}  // namespace lumora::platform::wayland
