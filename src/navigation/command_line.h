#pragma once
// zelvor's options. Without any the program is the interactive assistant.
#include <QString>
#include <QStringList>

namespace krv::navigation {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool unattended = false;
    bool acceptTerms = false;
    bool allowDataChange = false; // --allow-data-change: take changes of stored values
    bool now = false;             // --now: take a staged release outside this installation's stage
    QString directory;            // --directory PATH: the directory path, unattended
    QString plan;                 // --plan FILE: print the database update's plan and end
    bool rollback = false;        // --rollback [RECORD]: undo an update
    QString rollbackRecord;       // its record; empty: the last one that can be undone
    bool releaseHold = false;     // --release-hold [NAME]: end the holds on NAME, or all
    QString holdName;
    bool listUpdates = false; // --list-updates
    QString error;            // not empty: the options cannot be used; says why
};

// Reads the arguments after the program's name.
CommandLine parseCommandLine(const QStringList& args);

QString helpText();
QString versionText();

// Exit statuses of the unattended run and the plan.
namespace exitcode {
inline constexpr int updated = 0;
inline constexpr int failed = 1;
inline constexpr int nothingToDo = 2;
inline constexpr int termsNotAccepted = 3;
inline constexpr int loginRefused = 4;
inline constexpr int anotherRun = 5;
inline constexpr int planHasWork = 10;
} // namespace exitcode

} // namespace krv::navigation
