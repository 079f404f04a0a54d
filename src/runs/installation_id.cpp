#include "runs/installation_id.h"

#include "runs/update_record.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>

namespace krv::runs {

QString installationId(const QString& suiteFolder) {
    const QString folder = record::recordsFolder(suiteFolder);
    const QString path = folder + '/' + kInstallationIdFile;
    static const QRegularExpression form(R"(^[0-9a-f]{32}\z)");
    QFile in(path);
    if (in.open(QIODevice::ReadOnly)) {
        const QString text = QString::fromLatin1(in.read(64)).trimmed();
        if (form.match(text).hasMatch())
            return text;
    }
    quint64 bits[2];
    QRandomGenerator::system()->fillRange(bits);
    const QString id =
        QString("%1%2").arg(bits[0], 16, 16, QChar('0')).arg(bits[1], 16, 16, QChar('0'));
    QDir().mkpath(folder);
    QSaveFile out(path);
    if (out.open(QIODevice::WriteOnly) && out.write(id.toLatin1() + '\n') > 0)
        out.commit();
    return id;
}

} // namespace krv::runs
