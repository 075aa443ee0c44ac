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
#include <string>
#include <string_view>

#include "ui/model.h"

namespace lumora::ui {

QColor toQColor(Colour colour);
Colour fromQColor(const QColor& colour);
QString toQString(std::string_view text);

// A picture of the assets with the copies drawn for denser screens ("name@1.5x.png",
// "name@2x.png"): the one for a device pixel ratio is the smallest that is at least as dense,
// else the densest there is. Each copy carries its ratio, so it is drawn at the same logical
// size as the plain picture.
class ScaledPicture {
public:
    ScaledPicture() = default;
    explicit ScaledPicture(std::string_view assetName);
    bool isNull() const { return copies_[0].isNull(); }
    const QPixmap& forRatio(qreal devicePixelRatio) const;
    // The plain picture's size, in logical pixels.
    QSize size() const { return copies_[0].size(); }

private:
    std::string name_;
    // 1x, 1.5x, 2x; missing copies are null. The denser ones are read when first asked for, so
    // a 96-dpi screen decodes only the plain pictures.
    mutable std::array<QPixmap, 3> copies_;
    mutable bool copiesRead_ = false;
};

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
    std::array<ScaledPicture, 4> images_;
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
    ScaledPicture picture_;
    Placement placement_;
};

}  // namespace lumora::ui
