// Asking the window manager for the frame of a window not yet mapped: the answer must be the
// frame it really draws, and every way of getting no answer must end in "unknown" in bounded
// time, never in a hang or an X error ending the process.
#include "platform/window_frame.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

// Xlib last: its macros (Bool, Status, ...) break Qt and gtest headers included after it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace lumora::platform {
namespace {

using test::runCommand;
using test::ScopedEnv;
using test::TempDir;
using test::waitUntil;

bool managerOffersRequest() {
    std::string supported;
    runCommand("xprop -root _NET_SUPPORTED 2>/dev/null", &supported);
    return supported.find("_NET_REQUEST_FRAME_EXTENTS") != std::string::npos;
}

// The answer for an unmapped window must be the frame the manager then draws around it, for
// a plain resizable window and for fixed-size ones with fewer decorations alike.
TEST(WindowFrameX11Test, AnswerMatchesTheFrameOfTheMappedWindow) {
    LUMORA_REQUIRE_X();
    if (!managerOffersRequest())
        GTEST_SKIP() << "the window manager does not answer frame requests";
    EXPECT_TRUE(canRequestFrameExtents());
    const Qt::WindowFlags kinds[] = {
        Qt::Window,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint,
        Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint,
    };
    for (const Qt::WindowFlags flags : kinds) {
        SCOPED_TRACE(static_cast<int>(flags));
        QWidget window(nullptr, flags);
        window.setWindowTitle(QStringLiteral("frame check"));
        // A window of fixed size gets no resize handle from some managers.
        if (flags.testFlag(Qt::CustomizeWindowHint))
            window.setFixedSize(300, 200);
        else
            window.resize(300, 200);
        const auto asked = requestFrameExtents(window.winId());
        ASSERT_TRUE(asked.has_value());
        window.show();
        ASSERT_TRUE(waitUntil([&window] {
            return window.windowHandle() != nullptr &&
                   !window.windowHandle()->frameMargins().isNull();
        }));
        const QMargins drawn = window.windowHandle()->frameMargins();
        EXPECT_EQ(asked->left, drawn.left());
        EXPECT_EQ(asked->right, drawn.right());
        EXPECT_EQ(asked->top, drawn.top());
        EXPECT_EQ(asked->bottom, drawn.bottom());
        EXPECT_GT(asked->top, 0);  // a title bar at least
    }
}

TEST(WindowFrameX11Test, NoWindowOrNoDisplayGivesNothing) {
    LUMORA_REQUIRE_X();
    EXPECT_FALSE(requestFrameExtents(0).has_value());
    // An id no window has: the X error is kept, not fatal.
    EXPECT_FALSE(requestFrameExtents(0x3fffff0, 100).has_value());
    QWidget window;
    const WindowHandle id = window.winId();
    ScopedEnv display("DISPLAY", std::nullopt);
    EXPECT_FALSE(canRequestFrameExtents());
    EXPECT_FALSE(requestFrameExtents(id).has_value());
    ScopedEnv unreachable("DISPLAY", ":9999");
    EXPECT_FALSE(canRequestFrameExtents());
    EXPECT_FALSE(requestFrameExtents(id).has_value());
}

// An X server of its own with no window manager, whose root properties the test writes to
// play the part of a manager that died or never answers.
class BareServer {
public:
    BareServer() {
        const std::string script = "Xvfb -displayfd 3 -screen 0 320x240x24 -nolisten tcp 3>'" +
                                   (dir_.path() / "display").string() +
                                   "' >/dev/null 2>&1 & echo $! >'" +
                                   (dir_.path() / "pid").string() + "'";
        runCommand(script);
        waitUntil([this] {
            const std::string number = test::readTextFile(dir_.path() / "display");
            if (number.find('\n') == std::string::npos)
                return false;
            display_ = ":" + number.substr(0, number.find('\n'));
            return true;
        });
        pid_ = std::atoi(test::readTextFile(dir_.path() / "pid").c_str());
    }
    ~BareServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitUntil([this] { return kill(pid_, 0) != 0; }, std::chrono::seconds(3));
        }
    }
    BareServer(const BareServer&) = delete;
    BareServer& operator=(const BareServer&) = delete;

    bool running() const { return !display_.empty() && pid_ > 0; }
    const std::string& display() const { return display_; }

private:
    TempDir dir_;
    std::string display_;
    int pid_ = 0;
};

// Writes a property of the given type on the root window of `display`.
void setRootProperty(const std::string& display, const char* name, Atom type,
                     const std::vector<unsigned long>& values) {
    Display* connection = XOpenDisplay(display.c_str());
    ASSERT_NE(connection, nullptr);
    XChangeProperty(connection, DefaultRootWindow(connection), XInternAtom(connection, name, False),
                    type, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
    XCloseDisplay(connection);
}

unsigned long atom(const std::string& display, const char* name) {
    Display* connection = XOpenDisplay(display.c_str());
    if (connection == nullptr)
        return 0;
    const Atom value = XInternAtom(connection, name, False);
    XCloseDisplay(connection);
    return value;
}

// An unmapped top-level on `display`, destroyed with its connection.
class BareWindow {
public:
    explicit BareWindow(const std::string& display) : connection_(XOpenDisplay(display.c_str())) {
        if (connection_ != nullptr) {
            root_ = DefaultRootWindow(connection_);
            window_ = XCreateSimpleWindow(connection_, root_, 0, 0, 100, 100, 0, 0, 0);
            XSync(connection_, False);
        }
    }
    ~BareWindow() {
        if (connection_ != nullptr)
            XCloseDisplay(connection_);
    }
    BareWindow(const BareWindow&) = delete;
    BareWindow& operator=(const BareWindow&) = delete;
    unsigned long root() const { return root_; }
    unsigned long id() const { return window_; }

private:
    Display* connection_;
    Window root_ = 0;
    Window window_ = 0;
};

TEST(WindowFrameX11Test, NoAnsweringManagerGivesNothing) {
    BareServer server;
    if (!server.running())
        GTEST_SKIP() << "could not start an X server";
    ScopedEnv display("DISPLAY", server.display());
    ASSERT_TRUE(waitUntil([] { return test::haveXDisplay(); }, std::chrono::seconds(5)));

    BareWindow window(server.display());
    ASSERT_NE(window.id(), 0u);

    // No manager at all.
    EXPECT_FALSE(canRequestFrameExtents());
    EXPECT_FALSE(requestFrameExtents(window.id(), 100).has_value());

    // A manager that offers the request but has gone: its check window no longer exists.
    setRootProperty(server.display(), "_NET_SUPPORTED", XA_ATOM,
                    {atom(server.display(), "_NET_WM_NAME"),
                     atom(server.display(), "_NET_REQUEST_FRAME_EXTENTS")});
    setRootProperty(server.display(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, {0x3fffff0});
    EXPECT_FALSE(canRequestFrameExtents());
    EXPECT_FALSE(requestFrameExtents(window.id(), 100).has_value());

    // One that looks alive (the root checks for itself) but never answers: the wait ends.
    setRootProperty(server.display(), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW, {window.root()});
    EXPECT_FALSE(requestFrameExtents(window.id(), 100).has_value());
}

}  // namespace
}  // namespace lumora::platform
