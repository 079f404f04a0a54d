#include "run_program.h"

#include "platform/test_hook.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace krv::test {

QList<TranscriptLine> RunResult::of(const QString& kind) const {
    QList<TranscriptLine> out;
    for (const auto& l : transcript)
        if (l.kind == kind)
            out << l;
    return out;
}

QStringList RunResult::messages() const {
    QStringList out;
    for (const auto& l : of("msgbox"))
        out << l.fields.value(3);
    return out;
}

QStringList RunResult::statuses() const {
    QStringList out;
    for (const auto& l : of("status"))
        out << l.fields.value(1);
    return out;
}

QString RunResult::transcriptText() const {
    QString t;
    for (const auto& l : transcript)
        t += l.kind + " | " + l.fields.join(" | ") + "\n";
    return t + "--- output ---\n" + output;
}

QList<TranscriptLine> parseTranscript(const QString& text) {
    QList<TranscriptLine> out;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        QStringList parts = line.split('\t');
        TranscriptLine l;
        l.kind = parts.takeFirst();
        for (const QString& p : parts)
            l.fields << platform::hook::unescape(p);
        out << l;
    }
    return out;
}

RunResult runProgram(const QString& program, const RunOptions& options) {
    QTemporaryDir dir;
    const QString scriptPath = dir.filePath("script.txt");
    const QString transcriptPath = dir.filePath("transcript.txt");
    {
        QFile s(scriptPath);
        s.open(QIODevice::WriteOnly);
        s.write(options.script.toUtf8());
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("ZELVOR_TEST_SCRIPT", scriptPath);
    env.insert("ZELVOR_TEST_TRANSCRIPT", transcriptPath);
    env.insert("ZELVOR_TEST_TIMEOUT", QString::number(options.timeoutSeconds));
    for (auto it = options.env.begin(); it != options.env.end(); ++it)
        env.insert(it.key(), it.value());

    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    if (!options.workingDirectory.isEmpty())
        p.setWorkingDirectory(options.workingDirectory);
    p.start(program, options.arguments);
    RunResult r;
    if (!p.waitForStarted(10000)) {
        r.output = "cannot start " + program;
        return r;
    }
    if (options.killAtPause) {
        const QDeadlineTimer deadline(std::chrono::seconds(options.timeoutSeconds + 15));
        QFile t(transcriptPath);
        while (!p.waitForFinished(50) && !deadline.hasExpired()) {
            if (!t.isOpen() && !t.open(QIODevice::ReadOnly))
                continue; // not written yet
            if (("\n" + t.readAll()).contains("\npause\t")) {
                p.kill();
                r.killed = p.waitForFinished(5000);
                break;
            }
            t.seek(0);
        }
    }
    // The hook ends a hung run itself; this is the last guard.
    if (p.state() != QProcess::NotRunning &&
        !p.waitForFinished((options.timeoutSeconds + 15) * 1000)) {
        r.timedOut = true;
        p.kill();
        p.waitForFinished(5000);
    }
    r.output = QString::fromUtf8(p.readAll());
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.exitCode = p.exitCode();
    QFile t(transcriptPath);
    if (t.open(QIODevice::ReadOnly))
        r.transcript = parseTranscript(QString::fromUtf8(t.readAll()));
    r.timedOut = r.timedOut || !r.of("timeout").isEmpty();
    return r;
}

QString zelvorBinary() {
    return ZELVOR_BIN;
}
QString movrinBinary() {
    return MOVRIN_BIN;
}

} // namespace krv::test
