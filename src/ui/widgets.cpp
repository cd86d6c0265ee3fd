// SPDX-License-Identifier: MIT
#include "ui/widgets.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace pelorix::ui {

namespace {
const QString kProduct = QStringLiteral("PELORIX");
}

qreal bodyPixelSize(const QWidget* reference) {
    const QFont f = reference->font();
    if (f.pixelSize() > 0) return f.pixelSize();
    return f.pointSizeF() * reference->logicalDpiY() / 72.0;
}

BrandTitle::BrandTitle(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAccessibleName(kProduct);
}

QFont BrandTitle::titleFont() const {
    // 21 pixels against a general font of 13: the name keeps that proportion to the text.
    const qreal scale = bodyPixelSize(this) / 13.0;
    QFont f = font();
    f.setPixelSize(std::max(12, int(std::lround(21.0 * scale))));
    f.setWeight(QFont::ExtraBold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, -0.4 * scale);
    return f;
}

void BrandTitle::setColors(const QColor& head, const QColor& tail) {
    head_ = head;
    tail_ = tail;
    update();
}

QSize BrandTitle::sizeHint() const {
    const QFontMetricsF fm(titleFont());
    return QSize(int(std::ceil(fm.horizontalAdvance(kProduct))) + 2, int(std::ceil(fm.height())));
}

void BrandTitle::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) updateGeometry();
}

void BrandTitle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::TextAntialiasing);
    const QFont f = titleFont();
    p.setFont(f);
    const QFontMetricsF fm(f);
    // The word is drawn whole twice and clipped at the split, so its shaping and kerning are
    // those of one word.
    const qreal split = fm.horizontalAdvance(kProduct.left(kSplit));
    const qreal baseline = fm.ascent();
    p.save();
    p.setClipRect(QRectF(0, 0, split, height()));
    p.setPen(head_);
    p.drawText(QPointF(0, baseline), kProduct);
    p.restore();
    p.setClipRect(QRectF(split, 0, width() - split, height()));
    p.setPen(tail_);
    p.drawText(QPointF(0, baseline), kProduct);
}

DropHighlight::DropHighlight(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
}

void DropHighlight::setTargeted(bool on) {
    if (targeted_ == on) return;
    targeted_ = on;
    update();
}

void DropHighlight::setColor(const QColor& color) {
    color_ = color;
    update();
}

void DropHighlight::paintEvent(QPaintEvent*) {
    if (!targeted_) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal line = 3.0;
    // Inset 4 from the edges, measured to the outside of the stroke.
    const QRectF frame =
        QRectF(rect()).adjusted(4 + line / 2, 4 + line / 2, -4 - line / 2, -4 - line / 2);
    p.setPen(QPen(color_, line));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame, 10, 10);
}

void makeProminent(QPushButton* button, const QColor& tint, bool dark, bool large) {
    const QColor text = dark ? QColor(0x0B, 0x1F, 0x23) : QColor(Qt::white);
    const QColor pressed = dark ? tint.lighter(115) : tint.darker(120);
    QColor disabledBg = dark ? QColor(255, 255, 255, 30) : QColor(0, 0, 0, 22);
    QColor disabledText = dark ? QColor(255, 255, 255, 90) : QColor(0, 0, 0, 80);
    auto rgba = [](const QColor& c) {
        return QStringLiteral("rgba(%1,%2,%3,%4)")
            .arg(c.red())
            .arg(c.green())
            .arg(c.blue())
            .arg(c.alpha());
    };
    const QString padding = large ? QStringLiteral("7px 18px") : QStringLiteral("4px 12px");
    button->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                       " padding: %3; font-weight: 600; }"
                       "QPushButton:pressed { background: %4; }"
                       "QPushButton:disabled { background: %5; color: %6; }"
                       "QPushButton:focus { border: 2px solid %7; padding: %8; }")
            .arg(rgba(tint), rgba(text), padding, rgba(pressed), rgba(disabledBg),
                 rgba(disabledText), rgba(dark ? QColor(Qt::white) : tint.darker(160)),
                 large ? QStringLiteral("5px 16px") : QStringLiteral("2px 10px")));
}

}  // namespace pelorix::ui
