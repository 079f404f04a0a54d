// The update record's part on delta updates: per module whether a delta served or why the full
// archive was fetched, and what the run's downloads cost beside the full archives'.
#include "runs/update_record.h"

#include <QJsonArray>
#include <QList>

namespace krv::runs::record {

namespace {

struct Judged {
    QString archive, delta, reason;
    qint64 bytes = 0, archiveSize = 0;
};

QList<Judged>& judged() {
    static QList<Judged> list;
    return list;
}

} // namespace

void deltaServed(const QString& archive, const QString& delta, qint64 bytes, qint64 archiveSize) {
    judged() << Judged{archive, delta, {}, bytes, archiveSize};
}

void deltaNotUsed(const QString& archive, const QString& reason) {
    judged() << Judged{archive, {}, reason, 0, 0};
}

QJsonValue deltaSummary(qint64 fetched) {
    if (judged().isEmpty())
        return {};
    QJsonArray modules;
    qint64 full = fetched;
    for (const Judged& j : judged()) {
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

} // namespace krv::runs::record
