// SPDX-License-Identifier: MIT
#include "ui/adapters.h"

#include <QFile>

#include "core/isrc.h"
#include "core/lists/folder_walk.h"

namespace pelorix::ui {

QString formattedISRC(const QString& text) {
    const auto isrc = ISRC::parse(text.toStdString());
    return isrc ? QString::fromStdString(isrc->formatted()) : text;
}

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString fromPath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

QSettings settings() {
    return QSettings(QStringLiteral("PELORIX"), QStringLiteral("PELORIX"));
}

int naturalCompare(const QString& a, const QString& b) {
    return lists::naturalCompare(a.toStdString(), b.toStdString());
}

}  // namespace pelorix::ui
