#include "runs/leftovers.h"

#include "platform/paths.h"
#include "platform/scratch_file.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace krv::runs {

void removeEndedExtractions(const QString& folder) {
    const QString prefix = QString::fromLatin1(kExtractionPrefix);
    // Names without a process id come from before ids were recorded: their writer is gone.
    platform::removeEndedScratch(folder, {prefix + "*"}, [&prefix](const QString& name) {
        return platform::stampOf(name, prefix);
    });
}

void restoreSetAsideAssistant(const QString& dirSis) {
    const QString assistant = platform::winJoin(dirSis, "\\zelvor");
    const QString setAside = assistant + ".old";
    if (!platform::isRegularFile(setAside))
        return;
    struct stat st;
    if (::lstat(QFile::encodeName(assistant).constData(), &st) != 0)
        QFile::rename(setAside, assistant);
    else
        QFile::remove(setAside);
}

void clearLeftovers(const QString& dirSis) {
    restoreSetAsideAssistant(dirSis);
    removeEndedExtractions(dirSis);
    removeEndedExtractions(platform::winJoin(dirSis, "\\update"));
}

} // namespace krv::runs
