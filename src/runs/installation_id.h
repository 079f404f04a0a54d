#pragma once
// The installation's own id: 128 random bits, written once as 32 lower-case hex digits in
// DirSis/atualizacoes/instalacao.id. Not the machine's id, which cloned machines share; it
// never leaves the installation (it only picks this installation's share of a staged release).
#include <QString>

namespace krv::runs {

inline const QString kInstallationIdFile = "instalacao.id";

// The id of the suite at suiteFolder; created on the first call. A file that holds no id is
// replaced by a new one; when none can be written the id still serves this run.
QString installationId(const QString& suiteFolder);

} // namespace krv::runs
