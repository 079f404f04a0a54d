#pragma once
// In-process tests run with the test hook on (set up by the test runner's main): every
// message box is answered at once and written to a transcript. A tap reads what was
// written after it was made.
#include "run_program.h"

namespace krv::test {

class HookTap {
public:
    HookTap();
    // Transcript lines written since the tap was made.
    QList<TranscriptLine> lines() const;
    QStringList messages() const;
    QStringList statuses() const;

private:
    qint64 start_;
};

// Script steps for the dialogs and actions to come ("msgbox Yes", "input name", ...).
void queue(const QString& script);

} // namespace krv::test
