#include "runs/holds.h"

#include "common/updatekrv.h"
#include "platform/krv_error.h"
#include "runs/release_steering.h"
#include "runs/run_session.h"
#include "runs/update_record.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace krv::runs::holds {

namespace {

bool same(const Hold& a, const Hold& b) {
    return a.kind == b.kind && a.name.compare(b.name, Qt::CaseInsensitive) == 0 &&
           a.version == b.version;
}

void write(const QString& suiteFolder, const QList<Hold>& holds) {
    QJsonArray out;
    for (const Hold& h : holds)
        out.append(QJsonObject{
            {"kind", h.kind}, {"name", h.name}, {"version", h.version}, {"record", h.record}});
    const QString path = holdsFile(suiteFolder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(out).toJson(QJsonDocument::Indented)) < 0 || !file.commit())
        throw KrvError(err::FileAccess,
                       "Não foi possível gravar " + path + ": " + file.errorString());
}

} // namespace

QString holdsFile(const QString& suiteFolder) {
    return record::recordsFolder(suiteFolder) + "/versoes.retidas";
}

QList<Hold> read(const QString& suiteFolder) {
    QFile file(holdsFile(suiteFolder));
    QList<Hold> out;
    if (!file.open(QIODevice::ReadOnly))
        return out;
    for (const QJsonValue& v : QJsonDocument::fromJson(file.readAll()).array()) {
        const QJsonObject o = v.toObject();
        out << Hold{o["kind"].toString(), o["name"].toString(), o["version"].toString(),
                    o["record"].toString()};
    }
    return out;
}

void add(const QString& suiteFolder, const QList<Hold>& holds) {
    QList<Hold> all = read(suiteFolder);
    for (const Hold& h : holds)
        if (!held(all, h.kind, h.name, h.version))
            all << h;
    write(suiteFolder, all);
}

int release(const QString& suiteFolder, const QString& name) {
    QList<Hold> all = read(suiteFolder);
    const qsizetype before = all.size();
    all.removeIf([&](const Hold& h) {
        return name.isEmpty() || h.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    const int released = int(before - all.size());
    if (released > 0)
        write(suiteFolder, all);
    return released;
}

bool held(const QList<Hold>& holds, const QString& kind, const QString& name,
          const QString& version) {
    const Hold wanted{kind, name, version, {}};
    for (const Hold& h : holds)
        if (same(h, wanted))
            return true;
    return false;
}

bool leaveOut(RunSession& run, const QString& kind, const QString& name, const QString& version,
              const QString& installed) {
    if (steering::withdrawn(run, kind, name, version)) {
        run.record.note("withdrawn", QJsonObject{{"kind", kind},
                                                 {"name", name},
                                                 {"version", version},
                                                 {"result", "not offered"}});
        run.status("zelvor", "Versão " + version + " de " + name +
                                 " retirada pelo fabricante: não será aplicada.");
        return true;
    }
    const QList<Hold> holds = read(updatekrv::DirSis);
    const QString minimum = steering::minimumAbove(run, kind, name, installed);
    if (held(holds, kind, name, version) && !minimum.isEmpty()) {
        // The maker needs every installation at least at minimum: the hold gives way.
        QList<Hold> rest = holds;
        rest.removeIf([&](const Hold& h) { return same(h, Hold{kind, name, version, {}}); });
        write(updatekrv::DirSis, rest);
        run.record.note("holds_ended", QJsonObject{{"kind", kind},
                                                   {"name", name},
                                                   {"version", version},
                                                   {"minimum", minimum},
                                                   {"installed", installed}});
        run.status("zelvor", "Versão " + version + " de " + name +
                                 " deixa de ser retida: o fabricante exige no mínimo a "
                                 "versão " +
                                 minimum + " (instalada: " + installed + ").");
    } else if (held(holds, kind, name, version)) {
        run.record.versionHeld(kind, name, version);
        run.status("zelvor", "Versão " + version + " de " + name +
                                 " retida por um retorno (zelvor --rollback): não será "
                                 "aplicada. Para liberá-la: zelvor --release-hold " +
                                 name);
        return true;
    }
    run.record.versionOffered(kind, name, version);
    return false;
}

bool leaveOutArchive(RunSession& run, const QString& mask, const QString& archive) {
    QString name = mask;
    while (name.startsWith('\\') || name.startsWith('/'))
        name.remove(0, 1);
    name = name.section('*', 0, 0);
    QString version = archive.mid(name.size());
    if (version.endsWith(".zip", Qt::CaseInsensitive))
        version.chop(4);
    return leaveOut(run, "module", name, version);
}

} // namespace krv::runs::holds
