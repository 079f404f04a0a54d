#pragma once
// The maker's side of a signed release for the end-to-end tests: a key pair of its own, and
// the release's manifest written by the real krv-sign (its serial, versions and validity as
// asked), or a manifest changed after the fact and signed again, as a forger with the key
// would.
#include "common/release_manifest.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace krv::test {

class ReleaseSigner {
public:
    ReleaseSigner();
    // The public key's line, as zelvor.pub holds it.
    QByteArray publicLine() const;
    // krv-sign release on folder, with further options (--rollout ...); false (with the
    // tool's words in output) when it refused.
    bool release(const QString& folder, qint64 serial, const QMap<QString, QString>& versions = {},
                 QString* output = nullptr, const QStringList& options = {}) const;
    // Reads folder's manifest, lets edit change it and signs it again with this key.
    void resign(const QString& folder, const std::function<void(manifest::Manifest&)>& edit) const;

private:
    QTemporaryDir dir_;
    QByteArray pk_, sk_;
};

} // namespace krv::test
