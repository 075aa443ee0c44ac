#pragma once
// The balloon of a balloon-tip control: a rounded note with a pointer at a screen point. It
// stays until the next mouse button, wheel or key press anywhere in the program, or, when asked,
// until its display time has passed. Mouse movement leaves it alone. Private to ui/.
#include <QPainterPath>
#include <QString>
#include <QTimer>
#include <QWidget>

namespace lumora::ui {

class BalloonWidget : public QWidget {
public:
    // How long an auto-hiding balloon stays.
    static constexpr int kDisplayMilliseconds = 5000;

    BalloonWidget();
    ~BalloonWidget() override;
    // Shows `text` with the pointer's tip at the screen point `tip`.
    void showAt(QPoint tip, const QString& text, bool autoHide);
    // The screen point the pointer points at while shown.
    QPoint tip() const { return tip_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString text_;
    QPoint tip_;
    QRect body_;  // in widget coordinates
    QPainterPath shape_;
    QTimer autoHide_;
    bool filtering_ = false;
};

}  // namespace lumora::ui
