#include "runs/dir_run.h"

#include "common/text.h"
#include "runs/archive_names.h"

#include <QDir>
#include <cmath>

namespace krv::runs {

const std::array<ModuleArchive, 8> kModuleArchives = {{
    {"\\krvsis*.zip", "Atualizando Principal"},
    {"\\mresid*.zip", "Atualizando Resida"},
    {"\\mpagvl*.zip", "Atualizando Pagvel"},
    {"\\mcontrol*.zip", "Atualizando Control"},
    {"\\mcaixa*.zip", "Atualizando Caixa"},
    {"\\zapo*.zip", "Atualizando Zapo"},
    {"\\mquot*.zip", "Atualizando Quotel Adm."},
    {"\\mvitr*.zip", "Atualizando Vitrax"},
}};

QString firstMatch(const QString& folder, const QString& mask) {
    QString m = mask;
    while (m.startsWith('\\') || m.startsWith('/'))
        m.remove(0, 1);
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    for (const QString& f : files)
        if (matchesMask(f, m, Qt::CaseInsensitive))
            return f;
    return {};
}

bool holdsUpdateFiles(const QString& folder) {
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    for (const QString& f : files)
        if (matchesMask(f, "*.zip", Qt::CaseInsensitive) ||
            matchesMask(f, "*.mdb", Qt::CaseInsensitive) ||
            matchesMask(f, "*.delta", Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace krv::runs
