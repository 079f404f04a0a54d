#pragma once
// The version an update archive carries: the file version of its module, the member named as
// the archive is (control01.32.00.zip: control.exe or control), else its one executable.
#include <QString>
#include <QStringList>

namespace krv::runs {

// The member (flat name, as in memberNames) that stands for the archive's module; empty when
// none does.
QString moduleMember(const QString& archiveName, const QStringList& memberNames);

// The file version of the archive's module ("01.32.00"); empty when the archive cannot be
// read, has no module member or the member carries no version.
QString archiveModuleVersion(const QString& archive);

} // namespace krv::runs
