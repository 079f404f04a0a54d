#include "runs/signed_files.h"

#include <QFile>

namespace krv::runs {

const signature::TrustedKey& updateKey() {
    static const signature::TrustedKey key = signature::installationKey();
    return key;
}

bool signaturesRequired() {
    return updateKey().state != signature::TrustedKey::State::None;
}

void dropUncheckedMenuFile(const QString& updateFolder, const QStringList& entries) {
    if (signaturesRequired() && !entries.contains("mnusis_cs.krv"))
        QFile::remove(updateFolder + "/mnusis_cs.krv");
}

} // namespace krv::runs
