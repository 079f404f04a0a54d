#pragma once
// Scratch files of a run (extraction temporaries, the Access import's working copies, partial
// downloads) tell their writer, so that a later run can remove what a run cut off (killed,
// power lost) left behind without touching the files of a run still at work.
#include <QString>
#include <QStringList>

#include <functional>

namespace krv::platform {

// A regular file, never a link or a folder that happens to carry a scratch name.
bool isRegularFile(const QString& path);

// prefix, this process's id, "-" and rest: ".krv-extract-1234-XXXXXX".
QString stampedName(const QString& prefix, const QString& rest);
// The process id stamped in name after prefix; 0 when it has none (a name of an older
// version) or does not start with prefix.
qint64 stampOf(const QString& name, const QString& prefix);

// Removes the regular files directly in folder that match patterns and whose writer has
// ended. writer names the process that wrote a file (0: not known, taken as ended); keep
// spares a file whatever its writer.
void removeEndedScratch(const QString& folder, const QStringList& patterns,
                        const std::function<qint64(const QString& name)>& writer,
                        const std::function<bool(const QString& name)>& keep = {});

} // namespace krv::platform
