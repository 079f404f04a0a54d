// The update record's part on delta updates: per module whether a delta served or why the full
// archive was fetched, and what the run's downloads cost beside the full archives'.
#include "runs/update_record.h"

#include "runs/update_record_state.h"

#include <QJsonArray>
#include <QList>

namespace krv::runs {

using record::Judged;

void UpdateRecord::deltaServed(const QString& archive, const QString& delta, qint64 bytes,
                               qint64 archiveSize) {
    if (s_->begun)
        s_->judged << Judged{archive, delta, {}, bytes, archiveSize};
}

void UpdateRecord::deltaNotUsed(const QString& archive, const QString& reason) {
    if (s_->begun)
        s_->judged << Judged{archive, {}, reason, 0, 0};
}

QJsonValue UpdateRecord::deltaSummary(qint64 fetched) const {
    if (s_->judged.isEmpty())
        return {};
    QJsonArray modules;
    qint64 full = fetched;
    for (const Judged& j : s_->judged) {
        if (j.delta.isEmpty()) {
            modules.append(QJsonObject{{"archive", j.archive}, {"full_because", j.reason}});
            continue;
        }
        full += j.archiveSize - j.bytes;
        modules.append(QJsonObject{{"archive", j.archive},
                                   {"delta", j.delta},
                                   {"delta_bytes", j.bytes},
                                   {"archive_bytes", j.archiveSize}});
    }
    return QJsonObject{
        {"modules", modules}, {"bytes_fetched", fetched}, {"full_archives_bytes", full}};
}

} // namespace krv::runs
