#include "runs/version_check.h"

#include "common/file_version.h"
#include "common/text.h"
#include "database/connection.h"
#include "download/protocol.h"
#include "platform/paths.h"
#include "platform/program.h"

#include <QFileInfo>
#include <cmath>
#include <limits>
#include <memory>

namespace krv::runs {

namespace {

// The first row's value of the one column of sql, as "000000"; empty on any failure.
QString installedNumber(const QString& sql, const QString& column) {
    QString result;
    std::unique_ptr<database::Recordset> rs;
    try {
        database::CriaRecordset(rs, true);
        rs->Open(sql, database::Conexao());
        if (!rs->eof()) {
            const QVariant v = rs->field(column);
            const QString t = v.toString().trimmed();
            bool ok = false;
            const double n = t.toDouble(&ok);
            if (v.isNull())
                result.clear();
            else if (ok)
                result = text::formatZeros(std::llround(n), 6);
            else
                result = v.toString();
        }
    } catch (const std::exception&) {
        result.clear();
    }
    database::CriaRecordset(rs, false);
    return result;
}

} // namespace

QString PegaAtBD() {
    return installedNumber("select ult_atualizacao from licensa", "ult_atualizacao");
}

QString PegaAtMNU() {
    return installedNumber("select atmenu from licensa", "atmenu");
}

bool sortsBefore(const QString& installed, const QString& offered) {
    return QString::compare(installed, offered, Qt::CaseSensitive) < 0;
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

QString programModule(const QString& baseName) {
    const QString folder = platform::programFolder() + "/";
    const QString path = platform::moduleFile(folder, baseName);
    if (!platform::ordinaryFileExists(path))
        return {};
    return path;
}

std::optional<QString> installedModuleVersion(const QString& path) {
    if (!platform::ordinaryFileExists(path))
        return QString();
    const auto info = readFixedFileInfo(path);
    if (!info)
        return std::nullopt;
    return formatFileVersion(*info);
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
