// SPDX-License-Identifier: MIT
#pragma once
// Thin adapters between Qt's types and the engine's, shared by the window's units: the rules
// themselves stay in the engine.

#include <QSettings>
#include <QString>

#include <filesystem>

namespace pelorix::ui {

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
