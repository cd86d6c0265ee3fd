// SPDX-License-Identifier: MIT
#pragma once
// The house look: three brand colours with a dark and a light value each, the palette colours
// the window uses beside them, the font roles, and the brand mark image.

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace pelorix::ui {

// Dark or light, decided from a palette: the lightness of its window colour. Qt 6.4 has no
// colour-scheme query, and the palette is what actually gets drawn.
bool isDarkPalette(const QPalette& palette);

class Brand {
  public:
    // A colour with one value per appearance; it is resolved each time it is drawn, so one
    // shared instance serves both appearances.
    class Color {
      public:
        constexpr Color(std::uint32_t dark, std::uint32_t light) : dark_(dark), light_(light) {}
        QColor resolve(bool dark) const;
        QColor resolve(const QPalette& palette) const { return resolve(isDarkPalette(palette)); }

      private:
        std::uint32_t dark_;
        std::uint32_t light_;
    };

    static Color color(std::uint32_t dark, std::uint32_t light) { return Color(dark, light); }
    static const Color& accent();
    static const Color& text();
    static const Color& tagline();

    // Where the mark is looked for, in order: the installed data folder, then the resources
    // compiled into the program.
    static QStringList markLocations();
    // The mark from the first location that holds a readable image (with its 2x version when
    // there is one beside it), or none. Read afresh on every call.
    static std::optional<QPixmap> brandMark(const QStringList& locations = markLocations(),
                                            qreal devicePixelRatio = 1.0);
};

// Registers the images compiled into the program (the UI library is static, so this must be
// asked for). Safe to call more than once.
void ensureResources();

// Text and signal colours, resolved for an appearance.
namespace look {
QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor red(bool dark);
QColor orange(bool dark);  // a code about to be replaced, a name that does not fit the content
QColor green(bool dark);
// The contrast ratio of two opaque colours, 1 to 21, as the web's accessibility rules count it.
double contrast(const QColor& a, const QColor& b);
// The colour laid over the palette's base, then darkened (on a light base) or lightened (on a
// dark one) just enough to reach 4.5:1 against both the base and the alternate base, so that
// text in a table stays readable under any theme.
QColor readable(const QColor& color, const QPalette& palette);

// Font roles relative to the widget's general font, in the manner of QFontDatabase's system
// fonts: a title, the small text of footers and explanations, and the smallest readable text
// of hints.
enum class FontRole { title, small, smallest };
QFont font(FontRole role, QFont base = {});
QFont monospaced(QFont base = {});
}  // namespace look

}  // namespace pelorix::ui
