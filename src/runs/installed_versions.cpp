#include "runs/installed_versions.h"

#include "common/file_version.h"
#include "common/text.h"
#include "database/connection.h"
#include "platform/paths.h"
#include "platform/program.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <memory>

namespace krv::runs {

namespace {

// The first row's value of sql's one column; null on any failure.
QVariant firstValue(const QString& sql) {
    QVariant result;
    std::unique_ptr<database::Recordset> rs;
    try {
        database::CriaRecordset(rs, true);
        rs->Open(sql, database::Conexao());
        if (!rs->eof())
            result = rs->field(0);
    } catch (const std::exception&) {
        result = QVariant();
    }
    database::CriaRecordset(rs, false);
    return result;
}

} // namespace

InstalledVersions InstalledVersions::read() {
    // Two queries: a licensa without one of the columns still gives the other.
    return {firstValue("select ult_atualizacao from licensa"),
            firstValue("select atmenu from licensa")};
}

QString InstalledVersions::databaseText() const {
    return formatInstalledVersion(database);
}

std::optional<QString> InstalledVersions::databaseIfRead() const {
    if (database.isNull())
        return std::nullopt;
    return databaseText();
}

QString InstalledVersions::menuText() const {
    return formatInstalledVersion(menu);
}

QString formatInstalledVersion(const QVariant& installed) {
    if (installed.isNull())
        return {};
    const QString t = installed.toString().trimmed();
    bool ok = false;
    const double value = t.toDouble(&ok);
    if (!ok || t.isEmpty())
        return installed.toString();
    return text::formatZeros(std::llround(value), 6);
}

bool sortsBefore(const QString& installed, const QString& offered) {
    return QString::compare(installed, offered, Qt::CaseSensitive) < 0;
}

bool isDue(WorkItem::Kind kind, const std::optional<QString>& installed, const QString& offered) {
    switch (kind) {
    case WorkItem::Kind::Database:
    case WorkItem::Kind::Menu:
        return !installed || *installed != offered;
    case WorkItem::Kind::Module:
    case WorkItem::Kind::Assistant:
    case WorkItem::Kind::Other:
        break;
    }
    return sortsBefore(installed.value_or(QString()), offered);
}

bool isOlder(const QString& version, const QString& than) {
    bool aNumber = false, bNumber = false;
    const qulonglong x = version.toULongLong(&aNumber), y = than.toULongLong(&bNumber);
    if (aNumber && bNumber)
        return x < y;
    return sortsBefore(version, than);
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

QMap<QString, QString> moduleVersions(const QString& folder) {
    QMap<QString, QString> out;
    const QDir dir(folder);
    for (const QFileInfo& f : dir.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (auto info = readFixedFileInfo(f.filePath()))
            out[f.fileName()] = formatFileVersion(*info);
    return out;
}

} // namespace krv::runs
