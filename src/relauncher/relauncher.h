#pragma once
// Replacing Zelvor's executable: one attempt per timer tick. Once no process runs from the
// old executable, the new one is unpacked from the archive Zelvor downloaded and renamed
// over it in one step: at every moment the suite folder holds an assistant, old or new.
#include <QString>
#include <QStringList>
#include <cstdint>

namespace krv::relauncher {

class Relauncher {
public:
    // argument: Movrin's command-line argument ("-/update/<archive>"); ownFolder: where
    // Movrin lies, which is where the archive is unpacked.
    Relauncher(const QString& argument, const QString& ownFolder);

    // Started by an unattended assistant: a failure ends with status 1, and success turns
    // this process into the new assistant, run with assistantArguments.
    void setUnattended(const QStringList& assistantArguments) {
        unattended_ = true;
        assistantArguments_ = assistantArguments;
    }
    // The archive must have this SHA-256 (lower-case hex) before it is unpacked; empty: not
    // checked (a hand-started Movrin).
    void expectSha256(const QString& sha256) { sha256_ = sha256; }
    // Back to the first attempt (the timer was started).
    void reset() { attempts_ = 0; }
    // One attempt: returns when the old executable is still in use; otherwise shows the
    // outcome and ends the program.
    void Processar();

    std::int16_t attempts() const { return attempts_; }

    // True while some process runs from the file at path.
    static bool fileInUse(const QString& path);

private:
    QString argument_;
    QString ownFolder_;
    std::int16_t attempts_ = 0;
    bool unattended_ = false;
    QStringList assistantArguments_;
    QString sha256_;
};

} // namespace krv::relauncher
