#pragma once
// The version check run by the login window after a successful login: the session's check
// step (runs/run_session.h) shown in the windows: the work list in the run window, the history
// in the history window, which is then shown; or the self-update, or the end of the program.
#include "runs/run_session.h"
#include "runs/version_check.h"

class QWidget;

namespace krv::navigation {

class frmInicio;

void Modulos(frmInicio& w);

// The assistant's own update: fetches and checks the assistant's archive the session's check
// found, then hands over to Movrin (unattended: this process becomes Movrin). owner: the window
// that owns the download window; none: the download runs without one. Returns only when the
// run ended (a failure told to the session's observer).
void selfUpdate(runs::RunSession& run, const runs::WorkItem& assistant, QWidget* owner);

// The version check's decisions live with the session.
using runs::moduleCode;
using runs::PegaAtBD;
using runs::PegaAtMNU;
using runs::sortsBefore;
using runs::workListArchive;

} // namespace krv::navigation
