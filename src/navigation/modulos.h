#pragma once
// The version check run by the login window after a successful login: fetches the version
// list through the window's transfer control, fills the work list and the history, and
// shows the history window, starts the self-update or ends the program.
namespace krv::navigation {

class frmInicio;

void Modulos(frmInicio& w);

} // namespace krv::navigation
