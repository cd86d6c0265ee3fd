// SPDX-License-Identifier: MIT
#include "ui/brand.h"

#include <QCoreApplication>

#include <QFileInfo>
#include <QFontDatabase>
#include <QImageReader>
#include <algorithm>
#include <cmath>

static void initPelorixResources() {
    Q_INIT_RESOURCE(pelorix);
}

namespace pelorix::ui {

void ensureResources() {
    static const bool once = (initPelorixResources(), true);
    (void)once;
}

bool isDarkPalette(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Window).lightness() < 128;
}

QColor Brand::Color::resolve(bool dark) const {
    const std::uint32_t v = dark ? dark_ : light_;
    return QColor::fromRgb(int((v >> 16) & 0xFF), int((v >> 8) & 0xFF), int(v & 0xFF));
}

const Brand::Color& Brand::accent() {
    static const Color c = color(0x5ECAD7, 0x068E9A);
    return c;
}

const Brand::Color& Brand::text() {
    static const Color c = color(0xF3F4F6, 0x1C1D22);
    return c;
}

const Brand::Color& Brand::tagline() {
    static const Color c = color(0x9A9FAB, 0x555965);
    return c;
}

QStringList Brand::markLocations() {
    ensureResources();
    QStringList where;
#ifdef PELORIX_DATADIR_FROM_BINARY
    // Found from the running binary, as the window module is, so a moved install still works.
    where << QCoreApplication::applicationDirPath() +
                 QStringLiteral("/" PELORIX_DATADIR_FROM_BINARY "/PELORIX-mark.png");
#endif
    where << QStringLiteral(":/PELORIX-mark.png");
    return where;
}

namespace {
QString twoTimesName(const QString& path) {
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? path + QStringLiteral("@2x")
                   : path.left(dot) + QStringLiteral("@2x") + path.mid(dot);
}
}  // namespace

std::optional<QPixmap> Brand::brandMark(const QStringList& locations, qreal devicePixelRatio) {
    for (const QString& path : locations) {
        if (!QFileInfo::exists(path)) continue;
        // The first location that has the file decides; an unreadable file there means no mark.
        QImage image = QImageReader(path).read();
        if (image.isNull()) return std::nullopt;
        if (devicePixelRatio > 1.0) {
            const QString hi = twoTimesName(path);
            if (QFileInfo::exists(hi)) {
                QImage big = QImageReader(hi).read();
                if (!big.isNull()) {
                    big.setDevicePixelRatio(2.0);
                    image = big;
                }
            }
        }
        return QPixmap::fromImage(image);
    }
    return std::nullopt;
}

namespace look {

QColor primary(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::WindowText);
}

QColor secondary(const QPalette& palette) {
    // The text colour, half transparent: quieter than the primary text, still readable.
    QColor c = palette.color(QPalette::Active, QPalette::WindowText);
    c.setAlphaF(isDarkPalette(palette) ? 0.55F : 0.5F);
    return c;
}

double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor readable(const QColor& color, const QPalette& palette) {
    constexpr double kLeast = 4.5;
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const QColor alternate = palette.color(QPalette::Active, QPalette::AlternateBase);
    const auto over = [](const QColor& top, const QColor& bottom) {
        const double a = top.alphaF();
        return QColor::fromRgbF(float(top.redF() * a + bottom.redF() * (1 - a)),
                                float(top.greenF() * a + bottom.greenF() * (1 - a)),
                                float(top.blueF() * a + bottom.blueF() * (1 - a)));
    };
    QColor c = over(color, base);
    const bool darkBase = base.lightness() < 128;
    for (int step = 0; step < 40; ++step) {
        if (contrast(c, base) >= kLeast && contrast(c, alternate) >= kLeast) break;
        c = darkBase ? c.lighter(106) : c.darker(106);
        // Past full brightness lighter() keeps the colour; move it towards white instead.
        if (darkBase && c.value() == 255)
            c = QColor::fromHsv(c.hsvHue(), std::max(0, c.hsvSaturation() - 16), 255);
    }
    return c;
}

QColor red(bool dark) {
    return dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xE0, 0x30, 0x26);
}

QColor orange(bool dark) {
    return dark ? QColor(0xFF, 0xA6, 0x3D) : QColor(0xB8, 0x5C, 0x00);
}

QColor green(bool dark) {
    return dark ? QColor(0x30, 0xD1, 0x58) : QColor(0x1F, 0xA8, 0x45);
}

QFont font(FontRole role, QFont base) {
    const qreal general = base.pointSizeF() > 0 ? base.pointSizeF() : 10.0;
    switch (role) {
        case FontRole::title:
            base.setPointSizeF(general * 1.15);
            base.setWeight(QFont::DemiBold);
            break;
        case FontRole::small:
            base.setPointSizeF(general * 0.92);
            break;
        case FontRole::smallest:
            base.setPointSizeF(std::max(general * 0.8, 7.0));
            break;
    }
    return base;
}

QFont monospaced(QFont base) {
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (base.pointSizeF() > 0) mono.setPointSizeF(base.pointSizeF());
    return mono;
}

}  // namespace look

}  // namespace pelorix::ui
