#pragma once
// A throwaway suite installation for end-to-end runs of the real programs: a suite folder
// with its Config.BD pointing at a fresh test database holding `licensa`, and a settings
// store (XDG_CONFIG_HOME) whose DirSis and DirSisExe name that folder.
#include "run_program.h"
#include "test_db.h"

#include <QTemporaryDir>

namespace krv::test {

class SuiteInstall {
public:
    // licensa gets one row with these versions.
    explicit SuiteInstall(const QString& ultAtualizacao = "000131",
                          const QString& atmenu = "000010");

    const QString& folder() const { return folder_; } // DirSis and DirSisExe, no trailing "/"
    QString updateFolder() const { return folder_ + "/update"; }
    QString configHome() const { return config_.path(); }
    ScratchDatabase& db() { return db_; }

    // Writes another value into the settings store.
    void setSetting(const QString& key, const QString& value);

    // Options for runProgram with this installation's environment and the script.
    RunOptions options(const QString& script, int timeoutSeconds = 60) const;

    // Runs zelvor against this installation.
    RunResult runZelvor(const QString& script, int timeoutSeconds = 60) const;

private:
    QTemporaryDir root_, config_;
    QString folder_;
    ScratchDatabase db_;
};

} // namespace krv::test
