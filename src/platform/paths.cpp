#include "platform/paths.h"

#include <QFileInfo>

namespace krv::platform {

QString winJoin(const QString& folder, const QString& tail) {
    QString t = tail;
    t.replace('\\', '/');
    return folder + t;
}

bool ordinaryFileExists(const QString& path) {
    const QFileInfo fi(path);
    return fi.exists() && fi.isFile() && !fi.fileName().startsWith('.');
}

QString moduleFile(const QString& folder, const QString& baseName) {
    const QString withExe = folder + baseName + ".exe";
    if (QFileInfo(withExe).isFile())
        return withExe;
    return folder + baseName;
}

} // namespace krv::platform
