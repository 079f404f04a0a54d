#pragma once
// The version check run by the login window after a successful login: fetches the version
// list through the window's transfer control, fills the work list and the history, and
// shows the history window, starts the self-update or ends the program.
#include <QString>
#include <optional>

namespace krv::protocol {
class Inet;
}

namespace krv::navigation {

class frmInicio;
class HistoryText;

void Modulos(frmInicio& w);

// The installed database and menu versions from licensa, formatted "000000"; empty when
// they cannot be read.
QString PegaAtBD();
QString PegaAtMNU();

// Versions compare as text, character code by character code: "01.100.00" sorts before
// "01.31.00", and a prefix sorts first.
bool sortsBefore(const QString& installed, const QString& offered);

// A version-list module code as a whole number (rounded to the nearest, halves to even);
// nothing when the text is not a number that fits 32 bits.
std::optional<int> moduleCode(const QString& text);

// The work-list name of a module's archive: base name + version + ".zip"; empty when the
// server's texts would make it anything but a plain file name of the update folder.
QString workListArchive(const QString& baseName, const QString& offered);

// Fetches one module's change history through inet and appends it to history. When the
// history cannot be read (failed request, answer that is not well-formed XML) nothing is
// appended and the reason is returned (Portuguese); nothing when it was appended.
std::optional<QString> Historico(const protocol::Inet& inet, HistoryText& history, int code,
                                 const QString& installed);

// Ends the program after telling the user that the update server could not be read (what
// names the answer: "a lista de versões"); nothing has been changed at that point.
[[noreturn]] void serverUnreadable(const QString& what, const QString& reason);

} // namespace krv::navigation
