// SPDX-License-Identifier: MIT
#pragma once
// What the window shows while the list is empty: an invitation to drop files or pick them.
// Also the reading of a drag's contents: only local file and folder URLs are taken.

#include <QList>
#include <QUrl>
#include <QWidget>

class QLabel;
class QMimeData;
class QPushButton;

namespace pelorix::ui {

// The local files and folders a drag carries, in its order; empty for anything else.
QList<QUrl> droppedUrls(const QMimeData* mime);

class DropZone : public QWidget {
    Q_OBJECT
  public:
    explicit DropZone(QWidget* parent = nullptr);
    // Recolours for the appearance: the symbol in the accent, the descriptions secondary.
    void applyLook(const QColor& accent, const QColor& secondary, bool dark);
    QPushButton* addButton() const { return addButton_; }

  signals:
    void addFilesClicked();

  private:
    QLabel* symbol_;
    QLabel* title_;
    QLabel* formats_;
    QLabel* blurb_;
    QPushButton* addButton_;
};

}  // namespace pelorix::ui
