#pragma once
// The run's side of the maker's steering (common/release_steering.h), consulted only when a
// signed manifest was accepted: whether this installation takes the release now (its stage,
// a halt, --now or the person's Yes), withdrawn versions put back and held, and minimum
// versions that end a hold.
#include <QMap>
#include <QString>

namespace krv::runs {
class RunSession;
}

namespace krv::runs::steering {

// Whether the run goes on with the release. Outside this installation's stage a person is
// asked (No being the default) and an unattended run says so, unless --now; a halted release
// is never taken. When not, the run has ended with nothing to update (updated when it put
// back a withdrawn version).
bool takeRelease(RunSession& run);

// Every withdrawn version installed here: told, then what the update that installed it
// replaced put back (the rollback, menu included) and the version held. One whose kept copies
// are gone is left as it is; false when then nothing newer of it is offered (offered: the
// version list's version by module name in lower case, the menu's as "menu"): the run failed.
bool putBackWithdrawn(RunSession& run, const QMap<QString, QString>& offered);

// A withdrawn version is never offered (run: whose release).
bool withdrawn(const RunSession& run, const QString& kind, const QString& name,
               const QString& version);
// The minimum the installed version lies below; empty when none.
QString minimumAbove(const RunSession& run, const QString& kind, const QString& name,
                     const QString& installed);

} // namespace krv::runs::steering
