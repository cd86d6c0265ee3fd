// SPDX-License-Identifier: MIT
#include "ui/drop_zone.h"

#include "ui/brand.h"
#include "ui/symbols.h"
#include "ui/widgets.h"

#include "core/formats/format.h"

#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QVBoxLayout>

namespace pelorix::ui {

QList<QUrl> droppedUrls(const QMimeData* mime) {
    QList<QUrl> urls;
    if (!mime || !mime->hasUrls()) return urls;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty()) urls << url;
    }
    return urls;
}

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setSpacing(14);
    column->addStretch(1);

    symbol_ = new QLabel(this);
    symbol_->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol_, 0, Qt::AlignHCenter);

    title_ = new QLabel(tr("Drop audio files or folders here"), this);
    title_->setFont(look::font(look::FontRole::title, font()));
    column->addWidget(title_, 0, Qt::AlignHCenter);

    formats_ = new QLabel(QString::fromStdString(formats::labels(" \u00B7 ")), this);
    formats_->setFont(look::font(look::FontRole::small, font()));
    column->addWidget(formats_, 0, Qt::AlignHCenter);

    blurb_ = new QLabel(
        tr("PELORIX writes an ISRC code into the files' metadata without touching the audio."),
        this);
    blurb_->setFont(look::font(look::FontRole::small, font()));
    blurb_->setAlignment(Qt::AlignCenter);
    blurb_->setWordWrap(true);
    // Wrapped within 420; a fixed width lets the layout work out the wrapped height.
    blurb_->setFixedWidth(420);
    column->addWidget(blurb_, 0, Qt::AlignHCenter);

    addButton_ = new QPushButton(tr("Add Files\u2026"), this);
    addButton_->setCursor(Qt::PointingHandCursor);
    column->addSpacing(4);
    column->addWidget(addButton_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    connect(addButton_, &QPushButton::clicked, this, &DropZone::addFilesClicked);
}

void DropZone::applyLook(const QColor& accent, const QColor& secondary, bool dark) {
    // 44 pixels at light weight for a 13-pixel general font; scaled with it.
    const int size = int(std::lround(44.0 * bodyPixelSize(this) / 13.0));
    symbol_->setPixmap(
        symbols::pixmap(QStringLiteral("tag"), accent, size, devicePixelRatioF(), 0.6));
    // An aligned item gets no height-for-width from the layout; ask for the wrapped height.
    blurb_->setMinimumHeight(blurb_->heightForWidth(blurb_->width()));
    for (QLabel* label : {formats_, blurb_}) {
        QPalette pal = label->palette();
        pal.setColor(QPalette::WindowText, secondary);
        label->setPalette(pal);
    }
    makeProminent(addButton_, accent, dark, true);
}

}  // namespace pelorix::ui
