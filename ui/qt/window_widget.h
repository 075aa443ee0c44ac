#pragma once
// The Qt runtime's own parts, shared by its files: a window built from its definition, the state
// of its controls, and the list of open windows. Nothing outside ui/qt/ includes this.
#include <QEventLoop>
#include <QMargins>
#include <QMenuBar>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <string_view>
#include <vector>

#include "ui/model.h"
#include "ui/qt/balloon_widget.h"
#include "ui/qt/widgets.h"

namespace lumora::ui::detail {

inline constexpr char kControlIndexProperty[] = "lumoraControlIndex";

struct ControlState {
    const ControlDef* def = nullptr;
    QPointer<QWidget> widget;  // none for timers and balloon tips
    QTimer* timer = nullptr;
    bool visibleFlag = true;
    bool disabled = false;
    int interval = 0;
    QString caption;  // buttons keep their caption apart from Qt's mnemonic form
};

class WindowWidget;

struct RuntimeState {
    std::vector<QPointer<WindowWidget>> windows;
    bool quitWhenLast = true;
    int modalDepth = 0;
    bool appHooksInstalled = false;
    QPointer<BalloonWidget> balloon;
    // The frame the window manager puts around titled windows: asked of it before each one is
    // mapped, else the one last seen around a mapped window. Lets windows get their outer size
    // right before they are mapped.
    QMargins knownFrame;
    enum class FrameAnswers { Unknown, Yes, No } frameAnswers = FrameAnswers::Unknown;
};

RuntimeState& state();

QString escapeMnemonic(QString text);

class WindowWidget : public QWidget {
public:
    WindowWidget(const WindowDef& def, bool modal);

    const WindowDef& def() const { return def_; }
    std::string_view name() const { return def_.name; }
    ControlState* control(std::string_view name);
    std::vector<ControlState>& controls() { return controls_; }

    void startTimers();
    void stopTimers();
    void showFromDefinition();
    void setControlVisibleFlag(ControlState& control, bool visible);
    void radioClicked(ControlState& control);
    void setInterval(ControlState& control, int milliseconds);

    bool destroying = false;
    bool closeRequested = false;
    QEventLoop* modalLoop = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControl(const ControlDef& def, std::size_t index);
    QWidget* containerOf(const ControlDef& def);
    bool shownNow(const ControlState& control);
    void applyPageRule(std::string_view tabControl);
    void applyOuterSize(QMargins frame);
    void place();
    void fitFrame();
    void clickDefault();
    // The next (step 1) or previous (-1) enabled page of the window's first tab control in
    // view; false when the window has none.
    bool turnPage(int step);

    const WindowDef& def_;
    std::vector<ControlState> controls_;
    QMenuBar* menuBar_ = nullptr;
    ClientArea* client_ = nullptr;
    QTimer frameWatch_;
    int frameChecks_ = 0;
};

// The open window of that name, or null.
WindowWidget* findWindow(std::string_view name);
ControlState* findControl(std::string_view window, std::string_view control);
// Opens (or brings forward) the window of that definition; null when there is none.
WindowWidget* open(std::string_view name, bool modal);
// Raises Destroying, forgets the window and deletes it once control returns to the loop.
void destroyWindow(WindowWidget* window);

}  // namespace lumora::ui::detail
