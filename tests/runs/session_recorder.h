#pragma once
// An observer of the run session for tests: records what the run reports, answers every
// message with its default, and ends nothing.
#include "runs/run_outcome.h"
#include "runs/work_list.h"

#include <QStringList>
#include <optional>

namespace krv::test {

class SessionRecorder : public runs::SessionObserver {
public:
    QStringList statuses; // "window: text"
    QStringList messages; // "title: text"
    QStringList lines;
    std::optional<runs::RunEnd> end;
    bool waiting = false;

    void status(const QString& window, const QString& text) override {
        statuses << window + ": " + text;
    }
    platform::Answer message(const runs::Message& m) override {
        messages << m.title + ": " + m.text;
        return m.defaultAnswer;
    }
    void line(const QString& text) override { lines << text; }
    void ended(const runs::RunEnd& e) override { end = e; }
    void waitsForPerson(const runs::RunEnd& e) override {
        end = e;
        waiting = true;
    }
};

// A work item as the version check makes it for a file of these tests: the database update file,
// the menu file, a module's archive (".zip" in any case), or a file only fetched and logged.
inline runs::WorkItem workItem(const QString& file) {
    using Kind = runs::WorkItem::Kind;
    runs::WorkItem item;
    item.file = file;
    if (file == "krv.mdb")
        item.kind = Kind::Database;
    else if (file == "mnusis_cs.krv")
        item.kind = Kind::Menu;
    else if (!file.endsWith(".zip", Qt::CaseInsensitive))
        item.kind = Kind::Other;
    return item;
}

} // namespace krv::test
