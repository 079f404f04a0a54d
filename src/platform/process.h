#pragma once
// Other processes: starting one as an independent process with a normal window, and telling
// whether one still runs (the writer of a scratch file, the owner of a record).
#include <QString>
#include <QStringList>

namespace krv::platform {

// Starts program with the arguments, detached; false when it could not be started.
bool startDetached(const QString& program, const QStringList& arguments = {});

// The process pid (this one included) still runs; never for a pid of 0 or below, which no
// writer records.
bool processRuns(qint64 pid);

} // namespace krv::platform
