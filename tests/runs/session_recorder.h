#pragma once
// An observer of the run session for tests: records what the run reports, answers every
// message with its default, and ends nothing.
#include "runs/run_outcome.h"

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

} // namespace krv::test
