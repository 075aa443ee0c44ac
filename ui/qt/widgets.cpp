#include "ui/qt/widgets.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "assets/assets.h"
#include "ui/qt/fonts.h"

namespace lumora::ui {

QColor toQColor(Colour colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

Colour fromQColor(const QColor& colour) {
    return static_cast<Colour>(colour.red()) | (static_cast<Colour>(colour.green()) << 8) |
           (static_cast<Colour>(colour.blue()) << 16);
}

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

namespace {

QPixmap loadAssetPixmap(std::string_view name) {
    QPixmap pixmap;
    if (name.empty())
        return pixmap;
    const auto bytes = assets::find(name);
    if (!bytes.empty()) {
        pixmap.loadFromData(bytes.data(), static_cast<uint>(bytes.size()));
    }
    return pixmap;
}

constexpr std::array<qreal, 3> kCopyRatios = {1, 1.5, 2};
constexpr std::array<std::string_view, 3> kCopySuffixes = {"", "@1.5x", "@2x"};

// "pic.png" with "@2x" before the extension.
std::string copyName(std::string_view name, std::string_view suffix) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return std::string(name) + std::string(suffix);
    return std::string(name.substr(0, dot)) + std::string(suffix) + std::string(name.substr(dot));
}

// How many device pixels a logical one covers where the painter draws: the window's screen,
// or a picture the widget is rendered into at another ratio (that one shows in the painter's
// transform, the device being the widget still).
qreal paintRatio(const QPainter& painter) {
    const qreal device = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const QTransform transform = painter.deviceTransform();
    return std::max(device, std::hypot(transform.m11(), transform.m12()));
}

// Texts of the definitions may carry Windows line ends.
QString normaliseLineEnds(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace

// --- ScaledPicture ---

ScaledPicture::ScaledPicture(std::string_view assetName) : name_(assetName) {
    copies_[0] = loadAssetPixmap(assetName);
}

const QPixmap& ScaledPicture::forRatio(qreal devicePixelRatio) const {
    if (devicePixelRatio <= 1.01 || copies_[0].isNull())
        return copies_[0];
    if (!copiesRead_) {
        copiesRead_ = true;
        for (std::size_t i = 1; i < copies_.size(); ++i) {
            QPixmap copy = loadAssetPixmap(copyName(name_, kCopySuffixes[i]));
            copy.setDevicePixelRatio(kCopyRatios[i]);
            copies_[i] = copy;
        }
    }
    const QPixmap* densest = &copies_[0];
    for (std::size_t i = 0; i < copies_.size(); ++i) {
        if (copies_[i].isNull())
            continue;
        densest = &copies_[i];
        if (kCopyRatios[i] >= devicePixelRatio - 0.01)
            break;
    }
    return *densest;
}

// --- TransparentLabel ---

TransparentLabel::TransparentLabel(const ControlDef& def, QWidget* parent)
    : QWidget(parent),
      text_(toQString(def.caption)),
      colour_(def.textColour),
      effect_(def.effect),
      hAlign_(def.hAlign),
      vAlign_(def.vAlign),
      wrap_(def.wrap) {
    setFont(makeFont(def.font));
    setAutoFillBackground(false);
}

void TransparentLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    update();
}

void TransparentLabel::setTextColour(Colour colour) {
    if (colour == colour_)
        return;
    colour_ = colour;
    update();
}

void TransparentLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    int flags = 0;
    switch (hAlign_) {
        case HAlign::Left:
            flags |= Qt::AlignLeft;
            break;
        case HAlign::Centre:
            flags |= Qt::AlignHCenter;
            break;
        case HAlign::Right:
            flags |= Qt::AlignRight;
            break;
    }
    if (wrap_) {
        flags |= Qt::AlignTop | Qt::TextWordWrap;
    } else {
        flags |= Qt::TextSingleLine;
        switch (vAlign_) {
            case VAlign::Top:
                flags |= Qt::AlignTop;
                break;
            case VAlign::Centre:
                flags |= Qt::AlignVCenter;
                break;
            case VAlign::Bottom:
                flags |= Qt::AlignBottom;
                break;
        }
    }
    // No Qt::TextShowMnemonic: an "&" is drawn as itself.
    const QString text = normaliseLineEnds(text_);
    const QRect area = rect();
    auto draw = [&](const QColor& colour, int dx, int dy) {
        painter.setPen(colour);
        painter.drawText(area.translated(dx, dy), flags, text);
    };
    const QColor colour = toQColor(colour_);
    switch (effect_) {
        case 1:
            draw(Qt::white, 1, 1);
            draw(colour, 0, 0);
            break;
        case 2:
            draw(Qt::white, 0, 0);
            draw(colour, 1, 1);
            break;
        case 3:
            draw(Qt::black, 2, 2);
            draw(colour, 0, 0);
            break;
        default:
            draw(colour, 0, 0);
            break;
    }
}

// --- PictureButton ---

PictureButton::PictureButton(const ControlDef& def, QWidget* parent) : QAbstractButton(parent) {
    for (std::size_t i = 0; i < images_.size(); ++i)
        images_[i] = ScaledPicture(def.images[i]);
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

PictureButton::Look PictureButton::look() const {
    if (!isEnabled())
        return Look::Disabled;
    if (isDown())
        return Look::Pressed;
    if (hovered_)
        return Look::Hover;
    return Look::Normal;
}

void PictureButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void PictureButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const ScaledPicture& picture = images_[static_cast<std::size_t>(look())];
    if (!picture.isNull()) {
        // Smoothed where no copy matches the screen (125 %, 175 %, ...), never enlarged pixels.
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(QPointF(0, 0), picture.forRatio(paintRatio(painter)));
        return;
    }
    // Artwork missing: still show a pressable surface rather than a hole.
    QStyleOptionButton option;
    option.initFrom(this);
    if (isDown())
        option.state |= QStyle::State_Sunken;
    else
        option.state |= QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, this);
}

// --- EditBox ---

EditBox::EditBox(const ControlDef& def, QWidget* parent)
    : QLineEdit(parent), mode_(def.editMode), limit_(std::max(0, def.maxLength)) {
    setFont(makeFont(def.font));
    if (limit_ > 0)
        setMaxLength(limit_);
    setTextFromLogic(toQString(def.caption));
    QObject::connect(this, &QLineEdit::textEdited, this, [this] { fitLimitToText(); });
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    setPalette(palette);
    if (mode_ != EditMode::Normal) {
        // Filters typed and pasted text alike.
        setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[-0-9]*")), this));
    }
}

void EditBox::setTextFromLogic(const QString& text) {
    if (limit_ > 0 && text.size() > maxLength())
        setMaxLength(static_cast<int>(text.size()));
    setText(text);
    fitLimitToText();
}

void EditBox::fitLimitToText() {
    if (limit_ <= 0)
        return;
    const int wanted = std::max(limit_, static_cast<int>(text().size()));
    if (wanted == maxLength())
        return;
    // Changing the limit puts the text in again, which moves the cursor to its end.
    const int cursor = cursorPosition();
    setMaxLength(wanted);
    setCursorPosition(cursor);
}

void EditBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    if (mode_ != EditMode::Integer)
        return;
    const QString normal = normaliseIntegerText(text());
    if (normal != text())
        setTextFromLogic(normal);
}

QString normaliseIntegerText(const QString& text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('-') || text[i] == QLatin1Char('+'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    // Accumulate as a 64-bit magnitude, saturating: anything past the 32-bit range clamps the
    // same way however many digits follow.
    constexpr std::int64_t kCap = std::numeric_limits<std::int64_t>::max() / 10;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        if (value < kCap)
            value = value * 10 + (text[i].unicode() - u'0');
    }
    if (negative)
        value = -value;
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    if (value < kMin)
        value = kMin;
    if (value > kMax)
        value = kMax;
    if (value == 0)
        return {};
    return QString::number(value);
}

// --- ClientArea ---

ClientArea::ClientArea(const WindowDef& def, QWidget* parent)
    : QWidget(parent), picture_(def.backgroundPicture), placement_(def.placement) {
    if (def.background) {
        QPalette palette = this->palette();
        palette.setColor(QPalette::Window, toQColor(*def.background));
        setPalette(palette);
    }
    setAutoFillBackground(true);
}

void ClientArea::paintEvent(QPaintEvent*) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPixmap& picture = picture_.forRatio(paintRatio(painter));
    switch (placement_) {
        case Placement::TopLeft:
            painter.drawPixmap(QPointF(0, 0), picture);
            break;
        case Placement::Tiled:
            painter.drawTiledPixmap(rect(), picture);
            break;
        case Placement::CentredFit: {
            QSize size = picture_.size();
            if (size.width() > width() || size.height() > height()) {
                size.scale(this->size(), Qt::KeepAspectRatio);
            }
            const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                               size);
            painter.drawPixmap(target, picture);
            break;
        }
        case Placement::Stretched:
            painter.drawPixmap(rect(), picture);
            break;
    }
}

}  // namespace lumora::ui
