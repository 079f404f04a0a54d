#pragma once
// zelvor --rollback [RECORD], --release-hold [NAME] and --list-updates: undoing an update,
// ending the holds it left, and listing the updates of the suite named by the settings.
#include <QString>

namespace krv::navigation {

// Undoes the update of record (empty: the last one that kept files or the menu). Asks first,
// No being the default, unless unattended. 0 when undone; 1 when refused, declined or
// failed; 5 when another update of the suite is running. Needs the application.
int runRollbackCommand(const QString& record, bool unattended);

// Ends the holds on name, or every hold when name is empty. 0, or 1 when none matched.
int runReleaseHoldCommand(const QString& name);

// Prints one line an update record, newest first; 0.
int runListUpdatesCommand();

} // namespace krv::navigation
