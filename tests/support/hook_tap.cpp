#include "hook_tap.h"

#include "scripting/script_runner.h"

#include <QFile>
#include <QFileInfo>

namespace krv::test {

namespace {
QString transcriptPath() {
    return qEnvironmentVariable("ZELVOR_TEST_TRANSCRIPT");
}
} // namespace

HookTap::HookTap() : start_(QFileInfo(transcriptPath()).size()) {}

QList<TranscriptLine> HookTap::lines() const {
    QFile f(transcriptPath());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    f.seek(start_);
    return parseTranscript(QString::fromUtf8(f.readAll()));
}

QStringList HookTap::messages() const {
    QStringList out;
    for (const auto& l : lines())
        if (l.kind == "msgbox")
            out << l.fields.value(3);
    return out;
}

QStringList HookTap::statuses() const {
    QStringList out;
    for (const auto& l : lines())
        if (l.kind == "status")
            out << l.fields.value(1);
    return out;
}

void queue(const QString& script) {
    scripting::queueSteps(script);
}

} // namespace krv::test
