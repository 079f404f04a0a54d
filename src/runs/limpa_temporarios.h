#pragma once
// The end of every update run shown by a window: the session's finish step (the update folder
// removed, whether anything was applied told in a box), then the program ends.
#include <QString>
#include <functional>

namespace krv::runs {

// status, when given, shows "Removendo temporários" in the calling window's status line.
[[noreturn]] void LimpaTemporarios(const std::function<void(const QString&)>& status = {});

} // namespace krv::runs
