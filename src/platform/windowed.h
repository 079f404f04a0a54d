#pragma once
// What the programs with windows add to the platform beneath them: real message and input
// boxes, and the windows hidden when the program ends. The windows' application installs it.
namespace krv::platform {

void installWindowed();

} // namespace krv::platform
