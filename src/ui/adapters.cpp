// SPDX-License-Identifier: MIT
#include "ui/adapters.h"

#include <QCoreApplication>
#include <QFile>

#include <system_error>

#include "core/isrc.h"
#include "core/lists/folder_walk.h"
#include "core/tag_error.h"

namespace pelorix::ui {

QString messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TagError& e) {
        return QString::fromStdString(e.message());
    } catch (const std::system_error& e) {
        return QString::fromStdString(e.code().message());
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QCoreApplication::translate("pelorix::ui::Model", "An unexpected error occurred.");
    }
}

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
