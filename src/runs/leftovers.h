#pragma once
// What a run cut off (killed, power lost) leaves behind of ours, cleared when the next run
// or Movrin starts: extraction temporaries whose writing process has ended, and an assistant
// an earlier relauncher set aside and never put back.
#include <QString>

namespace krv::runs {

// Extraction temporaries are named this prefix, the writing process's id, "-" and a
// random part, so a later run can tell whether their writer is still at work.
inline constexpr char kExtractionPrefix[] = ".krv-extract-";

// Removes the extraction temporaries directly in folder whose writing process has ended.
void removeEndedExtractions(const QString& folder);

// Puts dirSis's "zelvor.old" back as "zelvor" when "zelvor" is missing; removes it when
// "zelvor" is there (an earlier relauncher was cut off before removing it).
void restoreSetAsideAssistant(const QString& dirSis);

// Both of the above for the suite folder dirSis, and the temporaries of its update folder.
void clearLeftovers(const QString& dirSis);

} // namespace krv::runs
