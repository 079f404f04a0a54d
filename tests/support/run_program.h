#pragma once
// Runs a real program (zelvor, movrin) under the offscreen platform with the test hook:
// a script of user actions in, the transcript out.
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace krv::test {

struct TranscriptLine {
    QString kind;       // msgbox, input, status, show, action, run, end, error, timeout, start
    QStringList fields; // unescaped
};

struct RunResult {
    int exitCode = -1;
    bool crashed = false;
    bool timedOut = false;
    bool killed = false; // killed by signal 9 at its pause point
    QString output;      // standard output and error together
    QList<TranscriptLine> transcript;

    // The transcript lines of one kind, in order.
    QList<TranscriptLine> of(const QString& kind) const;
    // The texts of every message box, in order.
    QStringList messages() const;
    // The status texts, in order.
    QStringList statuses() const;
    // The whole transcript as text, for failure messages.
    QString transcriptText() const;
};

struct RunOptions {
    QStringList arguments;
    QString script;             // the script's lines
    QMap<QString, QString> env; // extra environment (XDG_CONFIG_HOME, ZELVOR_BASE_URL...)
    QString workingDirectory;
    int timeoutSeconds = 60;
    // Kills the program (signal 9) once it reaches the pause point of ZELVOR_TEST_PAUSE.
    bool killAtPause = false;
};

RunResult runProgram(const QString& program, const RunOptions& options);

QList<TranscriptLine> parseTranscript(const QString& text);

// Paths of the built programs.
QString zelvorBinary();
QString movrinBinary();

} // namespace krv::test
