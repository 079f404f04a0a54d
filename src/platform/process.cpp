#include "platform/process.h"

#include "platform/test_hook.h"

#include <QProcess>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace krv::platform {

bool startDetached(const QString& program, const QStringList& arguments) {
    hook::record("run", QStringList{program} + arguments);
    // The started program outlives us: it must not write into our output, which may be a
    // pipe nobody reads once we have ended.
    QProcess p;
    p.setProgram(program);
    p.setArguments(arguments);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    return p.startDetached();
}

bool processRuns(qint64 pid) {
    // Another user's process (EPERM) runs all the same.
    return pid > 0 && (pid == ::getpid() || ::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

} // namespace krv::platform
