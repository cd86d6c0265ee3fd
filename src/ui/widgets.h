// SPDX-License-Identifier: MIT
#pragma once
// Small presentational widgets of the window: the two-colour product name, the drop highlight
// frame, and the filled ("prominent") button look.

#include <QColor>
#include <QWidget>

class QPushButton;

namespace pelorix::ui {

// "PELORIX" set as one word: the first three letters in one colour, the last four in another.
class BrandTitle : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kSplit = 3;
    explicit BrandTitle(QWidget* parent = nullptr);
    void setColors(const QColor& head, const QColor& tail);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* event) override;

  private:
    QFont titleFont() const;
    QColor head_;
    QColor tail_;
};

// The frame drawn over the whole window while files are dragged over it. Clicks pass through.
class DropHighlight : public QWidget {
    Q_OBJECT
  public:
    explicit DropHighlight(QWidget* parent);
    void setTargeted(bool on);
    bool targeted() const { return targeted_; }
    void setColor(const QColor& color);

  protected:
    void paintEvent(QPaintEvent*) override;

  private:
    bool targeted_ = false;
    QColor color_;
};

// The filled button style in the given tint, optionally at the large control size.
void makeProminent(QPushButton* button, const QColor& tint, bool dark, bool large);

// The pixel size of `reference`'s general font, which the brand's sizes are scaled against.
qreal bodyPixelSize(const QWidget* reference);

}  // namespace pelorix::ui
