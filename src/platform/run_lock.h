#pragma once
// One update at a time per suite: an advisory lock on a file in the suite's folder. The
// kernel drops it when the process ends, however it ends, so a killed run never blocks.
#include <QString>

namespace krv::platform {

enum class RunLock { Taken, Busy, Unavailable };

// Takes the lock on folder + "\zelvor.lock" for the rest of the process. Busy: another
// process holds it. Unavailable: the file cannot be opened (a folder that cannot be written,
// or missing); the run then goes on without the lock, since it could not change that folder.
RunLock takeRunLock(const QString& folder);

// The lock file's path for a suite folder.
QString runLockPath(const QString& folder);

} // namespace krv::platform
