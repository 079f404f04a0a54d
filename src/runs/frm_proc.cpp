#include "runs/frm_proc.h"

#include "common/erro_fatal.h"
#include "common/updatekrv.h"
#include "download/frm_download.h"
#include "download/protocol.h"
#include "platform/forms.h"
#include "platform/paths.h"
#include "platform/window_support.h"
#include "runs/fetch_update_file.h"
#include "runs/frm_atual_krv.h"
#include "runs/frm_atual_menu.h"
#include "runs/leftovers.h"
#include "runs/limpa_temporarios.h"
#include "runs/mod_add_zip.h"
#include "runs/release_check.h"
#include "runs/signed_files.h"
#include "runs/update_record.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QVBoxLayout>

namespace krv::runs {

using namespace platform;

EntryKind entryKind(const QString& entry) {
    const QString ext = entry.right(3).toLower();
    if (ext == "zip")
        return EntryKind::Archive;
    if (ext == "mdb")
        return EntryKind::Database;
    if (ext == "krv")
        return EntryKind::Menu;
    return EntryKind::Other;
}

frmProc::frmProc() {
    setObjectName("frmProc");
    setWindowTitle("Assistente de atualização KRV - Processamento");
    resize(420, 220);
    lstAux = new QListWidget(this);
    lstAux->setObjectName("lstAux");
    txtZip = criaTxtZip(this);
    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lstAux, 1);
    layout->addWidget(lblStatus);
    IniciaZip();
}

void frmProc::closeEvent(QCloseEvent* event) {
    if (!working_) {
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    if (download::frmDownload* d = downloadUnderWay())
        d->askToStop();
}

void frmProc::Processa() {
    QString caller = "Programa: " + objectName() + "\r\nRotina: Processa";
    working_ = true;
    // Cleared however the run is left: the hand-over, or an end a test turns into a throw.
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{working_};
    try {
        bool database = false, menu = false;
        setCursor(Qt::WaitCursor);
        clearLeftovers(updatekrv::DirSis);
        St(lblStatus, "Criando pasta temporária");
        const QString folder = updatekrv::updateFolder();
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            throw KrvError(err::FileAccess, "Não foi possível criar a pasta " + folder);
        QStringList entries;
        for (int i = 0; i < lstAux->count(); ++i)
            entries << lstAux->item(i)->text();
        removeLeftoverParts(folder, entries);
        dropUncheckedMenuFile(folder, entries);
        QStringList verifiedArchives;
        // With a key, the release's signed manifest decides before any file is fetched.
        if (signaturesRequired()) {
            release::fromServer(folder);
            release::requireListed(entries);
        }

        for (int i = 0; i < lstAux->count(); ++i) {
            const QString entry = lstAux->item(i)->text();
            St(lblStatus, "Solicitando arquivo");
            const QString path = winJoin(updatekrv::DirSis, "\\update\\" + entry);
            const FetchOutcome got =
                fetchUpdateFile(this, "Baixando atualização...", protocol::fileUrl(entry), path,
                                release::listedSize(entry));
            if (got.cancelled)
                updateStopped();
            if (!got.whole)
                throw KrvError(err::Download,
                               "O arquivo " + entry + " não foi baixado: " + got.reason);
            release::requireListedContent(entry, path, true);
            if (entryKind(entry) == EntryKind::Database)
                release::requireUpdateFileVersion(path, release::installedVersion(entry));
            protocol::sendClientLog(updatekrv::UsuarioAtual, entry);
            updatekrv::Atualizou = true;
            switch (entryKind(entry)) {
            case EntryKind::Archive:
                // Signed updates unpack only once every file has passed its check, so a
                // refused file later in the list leaves the suite as it was.
                if (signaturesRequired()) {
                    verifiedArchives << path;
                    break;
                }
                St(lblStatus, "Descompactando arquivo");
                Descompacta(path, "*.*", updatekrv::DirSis, 0);
                break;
            case EntryKind::Database:
                database = true;
                break;
            case EntryKind::Menu:
                menu = true;
                break;
            case EntryKind::Other:
                break;
            }
        }
        release::markApplied();
        for (const QString& path : verifiedArchives) {
            St(lblStatus, "Descompactando arquivo");
            const QString name = QFileInfo(path).fileName();
            Descompacta(path, "*.*", updatekrv::DirSis, 0,
                        release::moduleCheck(name, updatekrv::DirSis));
        }
        record::filesFetched();
        unsetCursor();

        if (database) {
            St(lblStatus, "Atualizar banco de dados");
            auto& next = form<runs::frmAtualKRV>();
            setOwner(&next, this);
            next.show();
            return;
        }
        if (menu) {
            St(lblStatus, "Atualizar banco de dados");
            form<runs::frmAtualMenu>().show();
            return;
        }
        LimpaTemporarios([this](const QString& text) { St(lblStatus, text); });
    } catch (const KrvError& e) {
        release::clearAfterFailure(updatekrv::updateFolder());
        ErroFatal(caller, e);
    } catch (const std::exception& e) {
        release::clearAfterFailure(updatekrv::updateFolder());
        ErroFatal(caller, KrvError(0, QString::fromLocal8Bit(e.what())));
    }
}

} // namespace krv::runs
