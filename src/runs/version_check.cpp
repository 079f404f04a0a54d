#include "runs/version_check.h"

#include "download/protocol.h"

#include <cmath>
#include <limits>

namespace krv::runs {

QString PegaAtBD() {
    return InstalledVersions::read().databaseText();
}

QString PegaAtMNU() {
    return InstalledVersions::read().menuText();
}

std::optional<int> moduleCode(const QString& text) {
    bool ok = false;
    const double n = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(n))
        return std::nullopt;
    const double r = std::nearbyint(n);
    if (r < std::numeric_limits<int>::min() || r > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(r);
}

QString workListArchive(const QString& baseName, const QString& offered) {
    const QString name = baseName + offered + ".zip";
    if (baseName.isEmpty() || name.contains('/') || name.contains('\\') || name.contains(QChar(0)))
        return {};
    return name;
}

std::optional<HistorySection> fetchHistory(const protocol::Inet& inet, int code,
                                           const QString& installed, QString* failure) {
    HistorySection section;
    section.code = code;
    const protocol::ListAnswer answer =
        protocol::requestList(inet, protocol::historyUrl(code, installed));
    if (!answer.ok) {
        if (failure)
            *failure = answer.failure;
        return std::nullopt;
    }
    for (const protocol::Record& r : answer.records)
        section.records << QStringList{r.field(0), r.field(1), r.field(2)};
    return section;
}

} // namespace krv::runs
