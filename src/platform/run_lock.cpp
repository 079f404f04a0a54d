#include "platform/run_lock.h"

#include "platform/paths.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace krv::platform {

QString runLockPath(const QString& folder) {
    return winJoin(folder, "\\zelvor.lock");
}

RunLock takeRunLock(const QString& folder) {
    static int held = -1;
    if (held >= 0)
        return RunLock::Taken;
    const QByteArray path = QFile::encodeName(runLockPath(folder));
    // O_CLOEXEC: Movrin, started to replace this program, must not inherit the lock.
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return RunLock::Unavailable;
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        return busy ? RunLock::Busy : RunLock::Unavailable;
    }
    held = fd; // kept open until the process ends
    return RunLock::Taken;
}

} // namespace krv::platform
