#include "runs/frm_proc_dir.h"

#include "common/erro_fatal.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/update_file.h"
#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/window_support.h"
#include "runs/dir_run.h"
#include "runs/frm_atual_krv.h"
#include "runs/holds.h"
#include "runs/leftovers.h"
#include "runs/mod_add_zip.h"
#include "runs/release_check.h"
#include "runs/run_outcome.h"
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QVBoxLayout>

namespace krv::runs {

using namespace platform;

frmProcDir::frmProcDir() {
    setObjectName("frmProcDir");
    setWindowTitle("Assistente de atualização Norvale - Processamento");
    resize(420, 110);
    txtZip = criaTxtZip(this);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblStatus);
    job_ = new ActivationJob(this, [this] { Processa(); });
    IniciaZip();
}

QString frmProcDir::tag() const {
    return job_->tag();
}

namespace {

// The installed database version; empty when it cannot be read, which makes the update due.
std::optional<QVariant> installedVersion() {
    try {
        std::unique_ptr<database::Recordset> rs;
        database::CriaRecordset(rs, true);
        rs->Open("select ult_atualizacao from licensa", database::Conexao());
        if (rs->eof())
            return std::nullopt;
        return rs->field(0);
    } catch (const KrvError&) {
        return std::nullopt;
    }
}

void copyReplacing(const QString& from, const QString& to) {
    if (QFileInfo::exists(to) && !QFile::remove(to))
        throw KrvError(err::FileAccess, "Não foi possível substituir " + to + ".");
    QFile source(from);
    if (!source.copy(to))
        throw KrvError(err::FileAccess, "Não foi possível copiar " + from + " para " + to + ": " +
                                            source.errorString());
}

QStringList archiveNames(const QList<std::pair<const ModuleArchive*, QString>>& archives) {
    QStringList names;
    for (const auto& a : archives)
        names << a.second;
    return names;
}

// names and, when a manifest was checked, the medium's manifest and its signature.
QStringList withSignatures(const QStringList& names) {
    QStringList out = names;
    if (release::current() && !names.isEmpty())
        for (const QString& file : {manifest::FileName, manifest::FileName + ".sig"})
            out << firstMatch(updatekrv::DirOrigem, "\\" + file);
    return out;
}

} // namespace

void frmProcDir::Processa() {
    QString caller = "Programa: frmProcDir\r\nRotina: Processa";
    try {
        setCursor(Qt::WaitCursor);
        clearLeftovers(updatekrv::DirSis);
        // Every file of the medium is checked before the first one is applied, so a refused
        // file leaves the suite as it was; the medium's files are never removed.
        QList<std::pair<const ModuleArchive*, QString>> archives;
        for (const ModuleArchive& row : kModuleArchives) {
            const QString found = firstMatch(updatekrv::DirOrigem, row.mask);
            if (!found.isEmpty() && !holds::leaveOutArchive(row.mask, found))
                archives.append({&row, found});
        }
        // The medium may come from a system that ignores case: "KRV.MDB" is the same file.
        const QString mdbName = firstMatch(updatekrv::DirOrigem, "\\krv.mdb");
        QStringList names = archiveNames(archives);
        if (!mdbName.isEmpty())
            names << mdbName;
        // With a key, the medium's signed manifest must list every file it offers, as it is.
        if (signaturesRequired() && !names.isEmpty()) {
            release::fromMedium(updatekrv::DirOrigem);
            release::requireListed(names);
            for (const QString& name : names)
                release::requireListedContent(name, winJoin(updatekrv::DirOrigem, "\\" + name),
                                              false);
            if (!mdbName.isEmpty())
                release::requireUpdateFileVersion(
                    winJoin(updatekrv::DirOrigem, "\\" + mdbName),
                    installedVersion() ? formatInstalledVersion(*installedVersion()) : QString());
            release::markApplied();
        }
        // The archives are applied whatever else the medium holds: recorded before the first.
        record::filesFound(updatekrv::DirOrigem, withSignatures(archiveNames(archives)));
        for (const auto& [row, found] : archives) {
            St(lblStatus, row->status);
            Descompacta(winJoin(updatekrv::DirOrigem, "\\" + found), "*.*", updatekrv::DirSis, 0,
                        release::moduleCheck(found, updatekrv::DirSis));
            updatekrv::Atualizou = true;
        }

        if (!mdbName.isEmpty()) {
            const QString mdb = winJoin(updatekrv::DirOrigem, "\\" + mdbName);
            database::UpdateFile file = database::openUpdateFile(mdb, database::kUpdateFileConnect);
            const database::UpdateRows numero = file.query("select * from numero");
            if (numero.empty()) {
                // The original asked for the information and the critical icon at once;
                // the critical one is what the user sees.
                msgBox("Arquivo <krv.mdb> inválido!", Buttons::OK, Icon::Critical, "Aviso!");
                endProgram(0);
            }
            updatekrv::VersaoBD = numero.first().text("CodAtu");
            if (databaseUpdateDue(updatekrv::VersaoBD, installedVersion())) {
                updatekrv::Atualizou = true;
                record::filesFound(updatekrv::DirOrigem, withSignatures({mdbName}));
                St(lblStatus, "Atualizando Banco de Dados");
                const QString folder = updatekrv::updateFolder();
                if (!QFileInfo(folder).isDir())
                    QDir().mkpath(folder); // a failure shows in the copy below
                file.close();
                dropUncheckedMenuFile(folder, {});
                copyReplacing(mdb, winJoin(updatekrv::DirSis, "\\update\\krv.mdb"));
                auto& next = form<runs::frmAtualKRV>();
                setOwner(&next, this);
                next.show();
                return;
            }
        }
        unsetCursor();
        reportOutcome(updatekrv::Atualizou ? Outcome::Updated : Outcome::NothingToDo);
        msgBox(updatekrv::Atualizou ? "Atualização concluída com sucesso!"
                                    : "Nenhuma atualização realizada!",
               Buttons::OK, Icon::Information, "Aviso!");
        endProgram(0);
    } catch (const KrvError& e) {
        ErroFatal(caller, e);
    } catch (const std::exception& e) {
        ErroFatal(caller, KrvError(0, QString::fromLocal8Bit(e.what())));
    }
}

} // namespace krv::runs
