// SPDX-License-Identifier: MIT
#pragma once
// Thin adapters between Qt's types and the engine's, shared by the window's units: the rules
// themselves stay in the engine.

#include <QSettings>
#include <QString>

#include <exception>
#include <filesystem>

namespace pelorix::ui {

// What went wrong, in words for the user: the engine's message for its own errors.
QString messageOf(const std::exception_ptr& error);
// The text as CC-XXX-YY-NNNNN when it is a code, else as it is.
QString formattedISRC(const QString& text);
// The path in the file system's own encoding.
std::filesystem::path fsPath(const QString& path);
QString fromPath(const std::filesystem::path& path);
// The program's settings (organisation and application "PELORIX").
QSettings settings();
// < 0, 0 or > 0 as `a` sorts before, with or after `b` in natural name order.
int naturalCompare(const QString& a, const QString& b);

}  // namespace pelorix::ui
