#pragma once
// The focused window of sway (and compositors that speak its IPC) and where it lies, from the
// layout tree the compositor reports on its IPC socket.
#include <QByteArray>
#include <QRect>
#include <cstdint>
#include <optional>
#include <string>

namespace lumora::platform::wayland {

inline constexpr std::uint32_t kSwayGetTree = 4;

// An IPC message: "i3-ipc", payload length and type (32-bit, native order), payload.
QByteArray swayIpcMessage(std::uint32_t type, const QByteArray& payload = {});

// The payload of a complete reply of `type`; nullopt when `reply` is not one.
std::optional<QByteArray> swayIpcPayload(const QByteArray& reply, std::uint32_t type);

// Sends one message to the socket at `socketPath` and reads its reply; nullopt on any failure
// or after `timeoutMs`.
std::optional<QByteArray> swayIpcQuery(const std::string& socketPath, std::uint32_t type,
                                       int timeoutMs = 1000);

// A window in the tree: its node id and its frame in layout coordinates. The frame is what the
// compositor draws for the window: the border and, where the window has its own, the title bar
// above it (as a window manager's frame on X11).
struct SwayWindow {
    std::int64_t id = 0;
    QRect frame;
};

// The focused window of a get_tree reply, or the window with node id `id` when it is not 0;
// nullopt when there is none (an empty workspace has the focus) or the reply is not a tree.
std::optional<SwayWindow> swayWindow(const QByteArray& tree, std::int64_t id = 0);

}  // namespace lumora::platform::wayland
