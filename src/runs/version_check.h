#pragma once
// The decisions of the version check that need no window: installed versions, how versions
// compare, the module codes and archive names of the version list, and one module's history.
#include "runs/installed_versions.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace krv::protocol {
class Inet;
}

namespace krv::runs {

// The installed database and menu versions from licensa, formatted "000000"; empty when
// they cannot be read.
QString PegaAtBD();
QString PegaAtMNU();

// A version-list module code as a whole number (rounded to the nearest, halves to even);
// nothing when the text is not a number that fits 32 bits.
std::optional<int> moduleCode(const QString& text);

// The work-list name of a module's archive: base name + version + ".zip"; empty when the
// server's texts would make it anything but a plain file name of the update folder.
QString workListArchive(const QString& baseName, const QString& offered);

// One module's change history: its code and the records (fields 0, 1 and 2 of each).
struct HistorySection {
    int code = 0;
    QList<QStringList> records;
};

// Fetches one module's change history through inet. When it cannot be read (failed request,
// answer that is not well-formed XML) nothing is returned and *failure says why (Portuguese).
std::optional<HistorySection> fetchHistory(const protocol::Inet& inet, int code,
                                           const QString& installed, QString* failure);

} // namespace krv::runs
