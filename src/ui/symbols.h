// SPDX-License-Identifier: MIT
#pragma once
// The small symbol images of the window, drawn with QPainter so that they take any colour and
// stay sharp at any size. Commands carry freedesktop icon names ("list-add", "list-remove",
// "edit-clear", "dialog-warning"); the others are our own: "sequence", "tag", "status-ready",
// "status-replaces", "status-up-to-date", "status-done", "status-invalid".

#include <QColor>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QRectF>
#include <QString>

namespace pelorix::ui::symbols {

bool known(const QString& name);
// Draws the symbol into `box` (kept square and centred). Unknown names draw nothing.
void draw(QPainter& painter, const QString& name, const QRectF& box, const QColor& color,
          qreal weight = 1.0);
QPixmap pixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio = 1.0,
               qreal weight = 1.0);
// An icon with normal and disabled colours, for buttons.
QIcon icon(const QString& name, const QColor& color, const QColor& disabled, int size = 16);

}  // namespace pelorix::ui::symbols
