#pragma once
// The base of the end-to-end tests: a throwaway suite installation, runs of the real zelvor
// against it (killed at a pause point when asked), and the checks every run's end shares.
#include "suite_install.h"

#include <QJsonObject>
#include <gtest/gtest.h>

namespace krv::test {

// The run ended by itself with code: no crash, no time-out, no error of the test hook.
void expectCleanEnd(const RunResult& r, int code);

// The update records a run wrote into the suite's folder, oldest first.
QList<QJsonObject> updateRecords(const QString& suiteFolder);
// The lines of the suite's update log.
QStringList updateLogLines(const QString& suiteFolder);

// The run handed the assistant's archive to Movrin: it started one process, the suite's
// movrin with "-/update/" + archive and the SHA-256 of servedCopy (the archive as served), as
// an interactive run does.
void expectHandedOver(const RunResult& r, const QString& suiteFolder, const QString& archive,
                      const QString& servedCopy);
// The built zelvor and movrin copied into folder, as installed beside the suite, so that the
// assistant Movrin replaces is a copy; returns the copy of zelvor.
QString installAssistant(const QString& folder);

// The clicks of a person who picks "Diretório", types folder and confirms it.
QString directoryScript(const QString& folder);

class EndToEnd : public ::testing::Test {
protected:
    explicit EndToEnd(const QString& installed = "000131") : suite(installed) {}
    void SetUp() override { ASSERT_TRUE(suite.db().ok()); }

    // zelvor on the suite with the script and arguments; with pausePoint it is killed (signal
    // 9) when it gets there.
    RunResult run(const QString& script, const char* pausePoint = nullptr,
                  const QStringList& arguments = {}, int timeoutSeconds = 60) const;
    // The directory run of folder, through the windows.
    RunResult runDirectory(const QString& folder, const char* pausePoint = nullptr,
                           int timeoutSeconds = 60) const;

    SuiteInstall suite;
};

} // namespace krv::test
