#include "platform/process.h"

#include "platform/test_hook.h"

#include <QProcess>

namespace krv::platform {

bool startDetached(const QString& program, const QStringList& arguments) {
    hook::record("run", QStringList{program} + arguments);
    return QProcess::startDetached(program, arguments);
}

} // namespace krv::platform
