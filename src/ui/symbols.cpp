// SPDX-License-Identifier: MIT
#include "ui/symbols.h"

#include <QPainterPath>

#include <cmath>

namespace pelorix::ui::symbols {

namespace {

const char* const kNames[] = {"list-add",       "sequence",      "list-remove",
                              "edit-clear",     "tag",           "status-up-to-date",
                              "status-done",    "status-ready",  "status-replaces",
                              "status-invalid", "dialog-warning"};

QPainterPath checkmark() {
    QPainterPath p;
    p.moveTo(4.9, 8.3);
    p.lineTo(7.0, 10.4);
    p.lineTo(11.2, 5.8);
    return p;
}

}  // namespace

bool known(const QString& name) {
    for (const char* n : kNames) {
        if (name == QLatin1String(n)) return true;
    }
    return false;
}

void draw(QPainter& painter, const QString& name, const QRectF& box, const QColor& color,
          qreal weight) {
    if (!known(name)) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Everything is drawn on a 16 x 16 grid.
    const qreal side = std::min(box.width(), box.height());
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / 16.0, side / 16.0);
    QPen pen(color, 1.5 * weight, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF circle(1.5, 1.5, 13, 13);

    if (name == QLatin1String("list-add")) {
        painter.drawLine(QPointF(8, 2.5), QPointF(8, 13.5));
        painter.drawLine(QPointF(2.5, 8), QPointF(13.5, 8));
    } else if (name == QLatin1String("edit-clear")) {
        painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    } else if (name == QLatin1String("sequence")) {
        painter.drawLine(QPointF(6.6, 2.5), QPointF(5.2, 13.5));
        painter.drawLine(QPointF(10.8, 2.5), QPointF(9.4, 13.5));
        painter.drawLine(QPointF(2.8, 5.8), QPointF(13.4, 5.8));
        painter.drawLine(QPointF(2.4, 10.2), QPointF(13.0, 10.2));
    } else if (name == QLatin1String("list-remove")) {
        painter.drawEllipse(circle);
        painter.drawLine(QPointF(5, 8), QPointF(11, 8));
    } else if (name == QLatin1String("tag")) {
        QPainterPath p;
        p.moveTo(1.8, 3.4);
        p.quadTo(1.8, 1.8, 3.4, 1.8);
        p.lineTo(7.6, 1.8);
        p.lineTo(14.2, 8.4);
        p.quadTo(14.9, 9.1, 14.2, 9.8);
        p.lineTo(9.8, 14.2);
        p.quadTo(9.1, 14.9, 8.4, 14.2);
        p.lineTo(1.8, 7.6);
        p.closeSubpath();
        painter.drawPath(p);
        painter.drawEllipse(QPointF(5.0, 5.0), 1.0, 1.0);
    } else if (name == QLatin1String("status-up-to-date")) {
        painter.drawEllipse(circle);
        painter.drawPath(checkmark());
    } else if (name == QLatin1String("status-done")) {
        QPainterPath disc;
        disc.addEllipse(QRectF(0.8, 0.8, 14.4, 14.4));
        QPainterPathStroker stroker;
        stroker.setWidth(1.7 * weight);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        painter.fillPath(disc.subtracted(stroker.createStroke(checkmark())), color);
    } else if (name == QLatin1String("status-ready")) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        for (int i = 0; i < 12; ++i) {
            const qreal a = i * M_PI / 6.0;
            painter.drawEllipse(QPointF(8 + 6.3 * std::cos(a), 8 + 6.3 * std::sin(a)), 0.85, 0.85);
        }
    } else if (name == QLatin1String("status-replaces")) {
        // A circle with an arrow through it: the code in the file gives way to another.
        painter.drawEllipse(circle);
        painter.drawLine(QPointF(4.6, 8), QPointF(11.2, 8));
        painter.drawLine(QPointF(8.6, 5.4), QPointF(11.2, 8));
        painter.drawLine(QPointF(8.6, 10.6), QPointF(11.2, 8));
    } else if (name == QLatin1String("status-invalid")) {
        painter.drawEllipse(circle);
        painter.drawLine(QPointF(8, 4.6), QPointF(8, 8.9));
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(QPointF(8, 11.4), 0.95, 0.95);
    } else if (name == QLatin1String("dialog-warning")) {
        QPainterPath tri;
        tri.moveTo(8, 1.4);
        tri.lineTo(15.2, 14.4);
        tri.lineTo(0.8, 14.4);
        tri.closeSubpath();
        QPainterPathStroker rounder;
        rounder.setWidth(1.2);
        rounder.setJoinStyle(Qt::RoundJoin);
        QPainterPath body = tri.united(rounder.createStroke(tri));
        QPainterPath mark;
        mark.addRoundedRect(QRectF(7.2, 5.2, 1.6, 5.0), 0.8, 0.8);
        mark.addEllipse(QPointF(8, 12.1), 0.95, 0.95);
        painter.fillPath(body.subtracted(mark), color);
    }
    painter.restore();
}

QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio,
               qreal weight) {
    QPixmap pm(QSize(size, size) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter painter(&pm);
    draw(painter, name, QRectF(0, 0, size, size), color, weight);
    return pm;
}

QIcon icon(const QString& name, const QColor& color, const QColor& disabled, int size) {
    QIcon result;
    for (qreal dpr : {1.0, 2.0}) {
        result.addPixmap(pixmap(name, color, size, dpr), QIcon::Normal);
        result.addPixmap(pixmap(name, disabled, size, dpr), QIcon::Disabled);
    }
    return result;
}

}  // namespace pelorix::ui::symbols
