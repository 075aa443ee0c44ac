#include "ui/qt/balloon_widget.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QPolygon>
#include <QRegion>
#include <QScreen>
#include <algorithm>

#include "ui/qt/fonts.h"

namespace lumora::ui {

namespace {

constexpr int kPointerHeight = 16;
constexpr int kPointerWidth = 14;
constexpr int kPointerInset = 18;  // from the body's edge to the pointer's base
constexpr int kPadding = 9;
constexpr int kRadius = 7;
constexpr int kMaxTextWidth = 340;
const QColor kFill(255, 255, 225);
const QColor kBorder(118, 118, 118);

}  // namespace

BalloonWidget::BalloonWidget()
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("balloonTip"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
    setFont(defaultGuiFont());
    autoHide_.setSingleShot(true);
    QObject::connect(&autoHide_, &QTimer::timeout, this, [this] { hide(); });
}

BalloonWidget::~BalloonWidget() {
    if (filtering_)
        qApp->removeEventFilter(this);
}

void BalloonWidget::showAt(QPoint tip, const QString& rawText, bool autoHide) {
    QString text = rawText;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text_ = text;
    tip_ = tip;

    const QFontMetrics metrics(font());
    const QRect textRect =
        metrics.boundingRect(QRect(0, 0, kMaxTextWidth, 10000), Qt::TextWordWrap, text_);
    const QSize bodySize(textRect.width() + 2 * kPadding, textRect.height() + 2 * kPadding);

    // Below the point with the pointer going up, unless the screen has no room there; shifted
    // sideways to stay on the screen while the pointer keeps its tip on the point.
    QScreen* screen = QGuiApplication::screenAt(tip);
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen != nullptr ? screen->geometry() : QRect(0, 0, 1 << 15, 1 << 15);
    const bool below = tip.y() + kPointerHeight + bodySize.height() <= area.bottom() + 1;
    int bodyLeft = tip.x() - kPointerInset - kPointerWidth / 2;
    bodyLeft = std::clamp(bodyLeft, area.left(),
                          std::max(area.left(), area.right() + 1 - bodySize.width()));
    const int bodyTop =
        below ? tip.y() + kPointerHeight : tip.y() - kPointerHeight - bodySize.height();

    const QRect outer = QRect(QPoint(bodyLeft, below ? tip.y() : bodyTop),
                              QSize(bodySize.width(), bodySize.height() + kPointerHeight))
                            .united(QRect(tip, QSize(1, 1)));
    body_ = QRect(QPoint(bodyLeft, bodyTop) - outer.topLeft(), bodySize);
    const QPoint localTip = tip - outer.topLeft();

    // The pointer's base sits on the body's edge, as close above the tip as the corners allow.
    const int baseCentre =
        std::clamp(localTip.x() + kPointerWidth / 2, body_.left() + kRadius + kPointerWidth / 2,
                   body_.right() - kRadius - kPointerWidth / 2);
    const int baseY = below ? body_.top() : body_.bottom() + 1;
    QPainterPath path;
    path.addRoundedRect(QRectF(body_).adjusted(0, 0, -0.5, -0.5), kRadius, kRadius);
    QPolygonF pointer;
    pointer << QPointF(baseCentre - kPointerWidth / 2.0, baseY + (below ? 1 : -1))
            << QPointF(localTip)
            << QPointF(baseCentre + kPointerWidth / 2.0, baseY + (below ? 1 : -1));
    QPainterPath pointerPath;
    pointerPath.addPolygon(pointer);
    pointerPath.closeSubpath();
    shape_ = path.united(pointerPath).simplified();

    setGeometry(outer);
    // Without a compositor a mask is what makes the corners and the pointer's sides see-through.
    setMask(QRegion(shape_.toFillPolygon().toPolygon()));
    if (!filtering_) {
        qApp->installEventFilter(this);
        filtering_ = true;
    }
    if (autoHide) {
        autoHide_.start(kDisplayMilliseconds);
    } else {
        autoHide_.stop();
    }
    show();
    raise();
    update();
}

void BalloonWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kBorder, 1));
    painter.setBrush(kFill);
    painter.drawPath(shape_);
    painter.setPen(Qt::black);
    painter.drawText(body_.adjusted(kPadding, kPadding, -kPadding, -kPadding),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text_);
}

bool BalloonWidget::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
            if (isVisible())
                hide();
            break;
        default:
            break;
    }
    return false;  // the press still goes where it was meant to
}

void BalloonWidget::hideEvent(QHideEvent* event) {
    autoHide_.stop();
    if (filtering_) {
        qApp->removeEventFilter(this);
        filtering_ = false;
    }
    QWidget::hideEvent(event);
}

}  // namespace lumora::ui
