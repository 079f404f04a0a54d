#pragma once
// The per-user settings store: application "KrvSis", section "Param", an INI file under
// $XDG_CONFIG_HOME. It holds a password, so the file is kept readable by its owner only.
#include <QString>

namespace krv::platform {

QString getSetting(const QString& key, const QString& defaultValue = {});
void saveSetting(const QString& key, const QString& value);
// Where the store lives (for the demo and the tests).
QString settingsFilePath();

} // namespace krv::platform
