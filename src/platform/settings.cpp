#include "platform/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace krv::platform {

namespace {

// QSettings picks up $XDG_CONFIG_HOME at first use only; the path is worked out here on
// every call so that tests and the demo can point the store elsewhere.
QString storePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty())
        base = QDir::homePath() + "/.config";
    return base + "/KrvSis/KrvSis.ini";
}

} // namespace

QString settingsFilePath() {
    return storePath();
}

QString getSetting(const QString& key, const QString& defaultValue) {
    QSettings s(storePath(), QSettings::IniFormat);
    return s.value("Param/" + key, defaultValue).toString();
}

void saveSetting(const QString& key, const QString& value) {
    const QString path = storePath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFile::exists(path)) {
        // Created owner-only before anything is written into it.
        QFile f(path);
        if (f.open(QIODevice::WriteOnly))
            f.close();
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    {
        QSettings s(path, QSettings::IniFormat);
        s.setValue("Param/" + key, value);
        s.sync();
    }
    // QSettings may replace the file on sync; keep it owner-only.
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace krv::platform
