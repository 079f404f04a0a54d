#pragma once
// The end of every update run: removes the update folder, reports whether anything was
// applied, and ends the program.
#include <QString>
#include <functional>

namespace krv::runs {

// status, when given, shows "Removendo temporários" in the calling window's status line.
[[noreturn]] void LimpaTemporarios(const std::function<void(const QString&)>& status = {});

} // namespace krv::runs
