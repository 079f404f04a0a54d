#include "runs/signed_files.h"

#include "common/krv_error.h"
#include "runs/fetch_update_file.h"
#include "runs/update_record.h"

#include <QFile>
#include <QFileInfo>

namespace krv::runs {

const signature::TrustedKey& updateKey() {
    static const signature::TrustedKey key = signature::installationKey();
    return key;
}

bool signaturesRequired() {
    return updateKey().state != signature::TrustedKey::State::None;
}

namespace {

[[noreturn]] void refuse(const QString& shownName, const QString& reason) {
    throw KrvError(SignatureRefused, "O arquivo " + shownName +
                                         " foi recusado por não ter uma assinatura válida do "
                                         "fabricante: " +
                                         reason + ". Nenhuma alteração foi aplicada.");
}

} // namespace

void requireSignature(const QString& shownName, const QString& file, const QString& signatureFile,
                      bool removeRefused) {
    if (!signaturesRequired())
        return;
    const signature::Check check = signature::verifyFile(file, signatureFile, updateKey());
    if (check.valid()) {
        record::signatureVerified(QFileInfo(file).fileName());
        return;
    }
    if (removeRefused) {
        QFile::remove(file);
        QFile::remove(signatureFile);
    }
    refuse(shownName, check.reason);
}

void requireFetchedSignature(QWidget* owner, const QString& shownName, const QString& url,
                             const QString& path) {
    if (!signaturesRequired())
        return;
    const QString sigPath = signature::signaturePath(path);
    // Never resumed from or mistaken for an older run's copy.
    QFile::remove(sigPath);
    const FetchOutcome got =
        fetchUpdateFile(owner, "Baixando assinatura...", signature::signaturePath(url), sigPath);
    if (got.cancelled) {
        QFile::remove(path);
        updateStopped();
    }
    if (!got.whole) {
        QFile::remove(path);
        refuse(shownName,
               "a assinatura " + shownName + ".sig não foi baixada (" + got.reason + ")");
    }
    requireSignature(shownName, path, sigPath, true);
}

void dropUncheckedMenuFile(const QString& updateFolder, const QStringList& entries) {
    if (signaturesRequired() && !entries.contains("mnusis_cs.krv"))
        QFile::remove(updateFolder + "/mnusis_cs.krv");
}

} // namespace krv::runs
