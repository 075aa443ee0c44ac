#include "platform/wayland/sway_ipc.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <chrono>
#include <cstring>

namespace lumora::platform::wayland {

namespace {

constexpr char kMagic[] = "i3-ipc";
constexpr int kMagicSize = 6;
constexpr int kHeaderSize = kMagicSize + 8;
// A tree of a few thousand windows is a few megabytes; anything far beyond is not a reply.
constexpr std::uint32_t kMaxPayload = 64u << 20;

std::uint32_t readU32(const char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

QRect rectOf(const QJsonValue& value) {
    const QJsonObject r = value.toObject();
    return {r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
            r.value(QStringLiteral("width")).toInt(), r.value(QStringLiteral("height")).toInt()};
}

bool isWindow(const QJsonObject& node) {
    const QString type = node.value(QStringLiteral("type")).toString();
    // Containers that hold other containers are not windows of a program.
    return (type == QLatin1String("con") || type == QLatin1String("floating_con")) &&
           node.value(QStringLiteral("nodes")).toArray().isEmpty() &&
           node.value(QStringLiteral("floating_nodes")).toArray().isEmpty();
}

QRect frameOf(const QJsonObject& node, const QString& parentLayout) {
    const QRect rect = rectOf(node.value(QStringLiteral("rect")));
    const QRect deco = rectOf(node.value(QStringLiteral("deco_rect")));
    // rect holds the border but not the title bar; a window's own title bar sits right above
    // it. In tabbed and stacked containers the titles are tabs of the parent, not this frame.
    const bool ownTitle = parentLayout != QLatin1String("tabbed") &&
                          parentLayout != QLatin1String("stacked") && deco.height() > 0;
    if (!ownTitle)
        return rect;
    return rect.adjusted(0, -deco.height(), 0, 0);
}

std::optional<SwayWindow> find(const QJsonObject& node, const QString& parentLayout,
                               std::int64_t id) {
    const bool match = id != 0 ? node.value(QStringLiteral("id")).toInteger() == id
                               : node.value(QStringLiteral("focused")).toBool();
    if (match) {
        if (!isWindow(node))
            return std::nullopt;
        return SwayWindow{node.value(QStringLiteral("id")).toInteger(),
                          frameOf(node, parentLayout)};
    }
    const QString layout = node.value(QStringLiteral("layout")).toString();
    for (const char* key : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : node.value(QLatin1String(key)).toArray()) {
            // Floating windows have no tiling parent whose tabs would hold their titles.
            const QString childParent =
                QLatin1String(key) == QLatin1String("nodes") ? layout : QStringLiteral("floating");
            if (auto found = find(child.toObject(), childParent, id))
                return found;
        }
    }
    return std::nullopt;
}

}  // namespace

QByteArray swayIpcMessage(std::uint32_t type, const QByteArray& payload) {
    QByteArray message(kMagic, kMagicSize);
    const std::uint32_t length = static_cast<std::uint32_t>(payload.size());
    message.append(reinterpret_cast<const char*>(&length), 4);
    message.append(reinterpret_cast<const char*>(&type), 4);
    message.append(payload);
    return message;
}

std::optional<QByteArray> swayIpcPayload(const QByteArray& reply, std::uint32_t type) {
    if (reply.size() < kHeaderSize || std::memcmp(reply.constData(), kMagic, kMagicSize) != 0)
        return std::nullopt;
    const std::uint32_t length = readU32(reply.constData() + kMagicSize);
    if (readU32(reply.constData() + kMagicSize + 4) != type || length > kMaxPayload ||
        static_cast<qsizetype>(length) != reply.size() - kHeaderSize)
        return std::nullopt;
    return reply.mid(kHeaderSize);
}

std::optional<QByteArray> swayIpcQuery(const std::string& socketPath, std::uint32_t type,
                                       int timeoutMs) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return std::nullopt;
    struct Closer {
        int fd;
        ~Closer() { close(fd); }
    } closer{fd};
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    auto waitFor = [&](short events) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, events, 0};
        return poll(&p, 1, static_cast<int>(left.count())) == 1 && (p.revents & events);
    };
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        (errno != EINPROGRESS || !waitFor(POLLOUT)))
        return std::nullopt;
    const QByteArray message = swayIpcMessage(type);
    qsizetype sent = 0;
    while (sent < message.size()) {
        const ssize_t n = send(fd, message.constData() + sent,
                               static_cast<std::size_t>(message.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return std::nullopt;
        } else if (!waitFor(POLLOUT)) {
            return std::nullopt;
        }
    }
    QByteArray reply;
    qsizetype expected = kHeaderSize;
    char buffer[65536];
    while (reply.size() < expected) {
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            reply.append(buffer, n);
            if (reply.size() >= kHeaderSize && expected == kHeaderSize) {
                const std::uint32_t length = readU32(reply.constData() + kMagicSize);
                if (length > kMaxPayload)
                    return std::nullopt;
                expected = kHeaderSize + static_cast<qsizetype>(length);
            }
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            return std::nullopt;
        } else if (!waitFor(POLLIN)) {
            return std::nullopt;
        }
    }
    return swayIpcPayload(reply.left(expected), type);
}

std::optional<SwayWindow> swayWindow(const QByteArray& tree, std::int64_t id) {
    const QJsonDocument document = QJsonDocument::fromJson(tree);
    if (!document.isObject())
        return std::nullopt;
    return find(document.object(), QString(), id);
}

}  // namespace lumora::platform::wayland
