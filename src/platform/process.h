#pragma once
// Starting another program as an independent process with a normal window.
#include <QString>
#include <QStringList>

namespace krv::platform {

// Starts program with the arguments, detached; false when it could not be started.
bool startDetached(const QString& program, const QStringList& arguments = {});

} // namespace krv::platform
