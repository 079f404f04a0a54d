#pragma once
// What the suite has installed, read one way for every step that compares with it (the version
// check, the directory run, the release check, the update record): the database and menu
// numbers in licensa and the version resources of the modules; and the rules that compare an
// offered version with an installed one.
#include "runs/work_list.h"

#include <QMap>
#include <QString>
#include <QVariant>
#include <optional>

namespace krv::runs {

// The database and menu numbers of licensa's first row.
struct InstalledVersions {
    QVariant database, menu; // null when they cannot be read (no table, no row, no column)
    // Reads both from the suite's database; each failure leaves its value null.
    static InstalledVersions read();
    // As versions compare ("000000"); empty when null.
    QString databaseText() const;
    QString menuText() const;
    // The database's text; nothing when it could not be read.
    std::optional<QString> databaseIfRead() const;
};

// An installed number as versions compare: a number formatted "000000" (more digits written in
// full), any other text as it is; empty when null.
QString formatInstalledVersion(const QVariant& installed);

// Versions compare as text, character code by character code: "01.100.00" sorts before
// "01.31.00", and a prefix sorts first.
bool sortsBefore(const QString& installed, const QString& offered);

// Whether offered is due over installed (nothing: it could not be read) for an item of kind: a
// module or the assistant when installed sorts before offered; the database and the menu on
// any difference, and always when the installed one could not be read.
bool isDue(WorkItem::Kind kind, const std::optional<QString>& installed, const QString& offered);

// Whether version is older than than: as numbers when both are (database, menu), else as
// text the way sortsBefore does.
bool isOlder(const QString& version, const QString& than);

// A program of the program folder by its base name; empty when it is not there.
QString programModule(const QString& baseName);
// The version of an installed program, "" when it has none of our version records; nothing
// when the file carries no version information at all (the run says so, as VersaoArquivo's
// box did, and takes it as "").
std::optional<QString> installedModuleVersion(const QString& path);
// The files directly in folder that carry version information: name -> version.
QMap<QString, QString> moduleVersions(const QString& folder);

} // namespace krv::runs
