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

// The assistant's archive fetched (RunSession::replaceAssistant), Movrin takes over and this
// program ends (unattended: this process becomes Movrin).
[[noreturn]] void handOver(runs::RunSession& run);

// The version check's decisions live with the session.
using runs::moduleCode;
using runs::PegaAtBD;
using runs::PegaAtMNU;
using runs::sortsBefore;
using runs::workListArchive;

} // namespace krv::navigation
