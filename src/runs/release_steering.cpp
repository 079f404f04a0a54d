#include "runs/release_steering.h"

#include "common/updatekrv.h"
#include "database/connection.h"
#include "runs/installation_id.h"
#include "runs/release_check.h"
#include "runs/rollback.h"
#include "runs/run_session.h"
#include "runs/update_record.h"
#include "runs/version_check.h"

#include <QJsonObject>

namespace krv::runs::steering {

using platform::Answer;
using platform::Buttons;
using platform::Icon;

namespace {

const manifest::Steering* steering(const RunSession& run) {
    const manifest::Manifest* m = run.releaseCheck.current();
    return m ? &m->steering : nullptr;
}

// Ends the run without taking the release: updated when a withdrawn version was put back.
void endWithout(RunSession& run) {
    RunEnd e;
    e.outcome = run.values.Atualizou ? Outcome::Updated : Outcome::NothingToDo;
    run.end(e);
}

// The version installed here of a withdrawn entry; empty when none is.
QString installed(const manifest::VersionRef& v) {
    if (v.kind == "menu")
        return PegaAtMNU();
    const QString path = programModule(v.name);
    return path.isEmpty() ? QString() : installedModuleVersion(path).value_or(QString());
}

QJsonObject entryJson(const manifest::VersionRef& v) {
    return {{"kind", v.kind}, {"name", v.name}, {"version", v.version}};
}

} // namespace

bool withdrawn(const RunSession& run, const QString& kind, const QString& name,
               const QString& version) {
    const manifest::Steering* s = steering(run);
    return s && manifest::isWithdrawn(*s, kind, name, version);
}

QString minimumAbove(const RunSession& run, const QString& kind, const QString& name,
                     const QString& installed) {
    const manifest::Steering* s = steering(run);
    return s ? manifest::minimumAbove(*s, kind, name, installed) : QString();
}

bool takeRelease(RunSession& run) {
    const manifest::Manifest* m = run.releaseCheck.current();
    if (!m)
        return true;
    const manifest::StageDecision d = manifest::decideStage(
        m->steering, manifest::bucket(installationId(updatekrv::DirSis), m->serial),
        QDateTime::currentDateTimeUtc());
    const QString release = QString("A versão publicada (série %1)").arg(m->serial);
    if (d.halted) {
        run.message({"Aviso!",
                     release + " foi suspensa pelo fabricante e não será aplicada agora. "
                               "Tente novamente mais tarde.",
                     Buttons::OK, Icon::Information});
        endWithout(run);
        return false;
    }
    if (d.take || run.now)
        return true;
    const QString when = d.from.isValid()
                             ? "esta instalação a recebe a partir de " +
                                   d.from.toLocalTime().toString("dd/MM/yyyy 'às' HH:mm")
                             : QString("ainda não há data para esta instalação recebê-la");
    const QString text = release + " está sendo distribuída em etapas: " + when + ".";
    if (run.unattended) {
        run.status("zelvor", text + " Para recebê-la agora: zelvor --unattended --now");
    } else if (run.message({"Aviso!", text + "\r\n\r\nDeseja recebê-la agora?", Buttons::YesNo,
                            Icon::Question, Answer::No}) == Answer::Yes) {
        return true;
    }
    endWithout(run);
    return false;
}

bool putBackWithdrawn(RunSession& run, const QMap<QString, QString>& offered) {
    const manifest::Steering* s = steering(run);
    if (!s)
        return true;
    for (const manifest::VersionRef& v : s->withdrawn) {
        if (installed(v) != v.version)
            continue;
        const QString holdName = v.kind == "menu" ? QString("mnusis_cs.krv") : v.name;
        const QString what =
            "A versão " + v.version + " de " + v.name + " foi retirada pelo fabricante";
        const QString update =
            rollback::updateThatInstalled(updatekrv::DirSis, v.kind, holdName, v.version);
        rollback::Plan plan;
        if (update.isEmpty())
            plan.refusal = "nenhuma atualização registrada em " +
                           record::recordsFolder(updatekrv::DirSis) + " instalou essa versão.";
        else
            plan = rollback::plan(updatekrv::DirSis, update);
        if (!plan.refusal.isEmpty()) {
            QJsonObject entry = entryJson(v);
            entry["result"] = "left as it is";
            entry["why"] = plan.refusal;
            run.record.note("withdrawn", entry);
            const QString newer = offered.value(v.kind == "menu" ? "menu" : v.name.toLower());
            // What the version check will then apply instead: any other menu, a later module.
            const bool later = v.kind == "menu" ? !newer.isEmpty() && newer != v.version
                                                : sortsBefore(v.version, newer);
            const bool replaced = later && !manifest::isWithdrawn(*s, v.kind, v.name, newer);
            const QString text = what +
                                 ", mas o que a atualização substituiu não pode ser "
                                 "restaurado: " +
                                 plan.refusal + " Os arquivos ficam como estão.";
            if (replaced) {
                run.status("zelvor", text + " A versão " + newer + " oferecida a substitui.");
                continue;
            }
            run.message({"Aviso!", text, Buttons::OK, Icon::Critical});
            RunEnd e;
            e.errorText = text;
            e.programCode = 1;
            run.end(e);
            return false;
        }
        plan.holds = {holds::Hold{v.kind, holdName, v.version, plan.record}};
        run.message({"Aviso!",
                     what + ": o que a atualização " + plan.record +
                         " substituiu será restaurado e a versão fica retida.",
                     Buttons::OK, Icon::Information});
        const QString reason =
            what + QString(" (manifesto série %1).").arg(run.releaseCheck.current()->serial);
        try {
            rollback::apply(updatekrv::DirSis, plan, &database::Conexao(),
                            {{"reason", reason}, {"withdrawn", entryJson(v)}});
        } catch (const KrvError& e) {
            run.fail("Programa: frmInicio\r\nRotina: Modulos", e);
            return false;
        }
        QJsonObject entry = entryJson(v);
        entry["result"] = "rolled back";
        entry["record"] = plan.record;
        run.record.note("withdrawn", entry);
        run.values.Atualizou = true;
    }
    return true;
}

} // namespace krv::runs::steering
