#include "platform/scratch_file.h"

#include "platform/process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace krv::platform {

bool isRegularFile(const QString& path) {
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

QString stampedName(const QString& prefix, const QString& rest) {
    return prefix + QString::number(QCoreApplication::applicationPid()) + '-' + rest;
}

qint64 stampOf(const QString& name, const QString& prefix) {
    if (!name.startsWith(prefix))
        return 0;
    bool ok = false;
    const qint64 pid = name.mid(prefix.size()).section('-', 0, 0).toLongLong(&ok);
    return ok && pid > 0 ? pid : 0;
}

void removeEndedScratch(const QString& folder, const QStringList& patterns,
                        const std::function<qint64(const QString& name)>& writer,
                        const std::function<bool(const QString& name)>& keep) {
    const QDir dir(folder);
    for (const QString& name : dir.entryList(patterns, QDir::Files | QDir::Hidden | QDir::System)) {
        if (processRuns(writer(name)) || (keep && keep(name)))
            continue;
        const QString path = dir.filePath(name);
        if (isRegularFile(path))
            QFile::remove(path);
    }
}

} // namespace krv::platform
