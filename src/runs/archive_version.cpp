#include "runs/archive_version.h"

#include "common/file_version.h"
#include "runs/archive_names.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <memory>
#include <zip.h>

namespace krv::runs {

namespace {

// A module carrying its version is a program, never near this; a larger member is not read.
constexpr zip_uint64_t MaxModuleBytes = 512ull * 1024 * 1024;

} // namespace

QString moduleMember(const QString& archiveName, const QStringList& memberNames) {
    static const QRegularExpression trailingVersion(R"([0-9.]*\.zip\z)",
                                                    QRegularExpression::CaseInsensitiveOption);
    const QString base = QString(archiveName).remove(trailingVersion);
    QStringList programs;
    for (const QString& m : memberNames) {
        if (!base.isEmpty() && (m.compare(base + ".exe", Qt::CaseInsensitive) == 0 ||
                                m.compare(base, Qt::CaseInsensitive) == 0))
            return m;
        if (m.endsWith(".exe", Qt::CaseInsensitive))
            programs << m;
    }
    return programs.size() == 1 ? programs.first() : QString();
}

QString archiveModuleVersion(const QString& archive) {
    int code = 0;
    std::unique_ptr<zip_t, void (*)(zip_t*)> z(
        zip_open(QFile::encodeName(archive).constData(), ZIP_RDONLY, &code), zip_discard);
    if (!z)
        return {};
    QStringList names;
    const zip_int64_t count = zip_get_num_entries(z.get(), 0);
    for (zip_int64_t i = 0; i < count; ++i)
        names << flatMemberName(QString::fromUtf8(zip_get_name(z.get(), i, 0)));
    const QString member = moduleMember(QFileInfo(archive).fileName(), names);
    const qsizetype index = names.indexOf(member);
    zip_stat_t st;
    if (member.isEmpty() || zip_stat_index(z.get(), index, 0, &st) != 0 || st.size > MaxModuleBytes)
        return {};
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> in(zip_fopen_index(z.get(), index, 0),
                                                         zip_fclose);
    QTemporaryFile out;
    if (!in || !out.open())
        return {};
    char buffer[64 * 1024];
    for (zip_int64_t n; (n = zip_fread(in.get(), buffer, sizeof buffer)) > 0;)
        if (out.write(buffer, n) != n)
            return {};
    out.flush();
    const auto info = readFixedFileInfo(out.fileName());
    return info ? formatFileVersion(*info) : QString();
}

} // namespace krv::runs
