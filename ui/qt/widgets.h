#pragma once
// The control kinds of the window model that Qt has no exact widget for. Private to ui/.
#include <QAbstractButton>
#include <QCheckBox>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QString>
#include <QWidget>
#include <array>
#include <cstdint>
#include <string_view>

#include "ui/model.h"

namespace lumora::ui {

QColor toQColor(Colour colour);
Colour fromQColor(const QColor& colour);
QString toQString(std::string_view text);

// Only its text is painted; whatever lies behind it stays visible.
class TransparentLabel : public QWidget {
    Q_OBJECT
public:
    TransparentLabel(const ControlDef& def, QWidget* parent);
    QString text() const { return text_; }
    void setText(const QString& text);
    Colour textColour() const { return colour_; }
    void setTextColour(Colour colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    Colour colour_;
    int effect_;
    HAlign hAlign_;
    VAlign vAlign_;
    bool wrap_;
};

// Four images for normal, mouse over, pressed and disabled; never takes the focus.
class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Look { Normal = 0, Hover = 1, Pressed = 2, Disabled = 3 };
    PictureButton(const ControlDef& def, QWidget* parent);
    Look look() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    std::array<QPixmap, 4> images_;
    bool hovered_ = false;
};

// A radio button grouped by the model, not by Qt: a click only ever selects it.
class ModelRadioButton : public QRadioButton {
    Q_OBJECT
public:
    using QRadioButton::QRadioButton;

protected:
    void nextCheckState() override { setChecked(true); }
};

// Single-line edit box with the model's input modes.
class EditBox : public QLineEdit {
    Q_OBJECT
public:
    EditBox(const ControlDef& def, QWidget* parent);
    // Text written by the logic is kept whole, even past the length limit (a stored option may
    // be longer than the box lets a person type); the limit governs typing only.
    void setTextFromLogic(const QString& text);

protected:
    void focusOutEvent(QFocusEvent* event) override;

private:
    // Qt cuts any text to the maximum length, so the limit is widened to an over-long text
    // from the logic and narrowed again, never below the text, as the user deletes.
    void fitLimitToText();

    EditMode mode_;
    int limit_;  // characters; 0: the platform's default
};

// The integer mode's rule when the box loses the focus: the leading sign and digits read as a
// 64-bit number, clamped to the 32-bit range; 0 gives empty text.
QString normaliseIntegerText(const QString& text);

// The client area of a window: paints the background picture behind the controls.
class ClientArea : public QWidget {
    Q_OBJECT
public:
    ClientArea(const WindowDef& def, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap picture_;
    Placement placement_;
};

}  // namespace lumora::ui
