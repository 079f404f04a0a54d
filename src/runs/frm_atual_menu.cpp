#include "runs/frm_atual_menu.h"

#include "common/erro_fatal.h"
#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/menu_file.h"
#include "platform/dialogs.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/window_support.h"
#include "runs/kept_files.h"
#include "runs/limpa_temporarios.h"
#include "runs/update_record.h"

#include <QCloseEvent>
#include <QSqlError>
#include <algorithm>
#include <climits>

namespace krv::runs {

using namespace database;

using namespace platform;

frmAtualMenu::frmAtualMenu() {
    setObjectName("frmAtualMenu");
    setWindowTitle("Atualização de Menu");
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setFixedSize(360, 70);
    Percent = new QProgressBar(this);
    Percent->setObjectName("Percent");
    Percent->setGeometry(12, 12, 336, 20);
    Percent->setRange(0, 1);
    Percent->setValue(0);
    Percent->setTextVisible(false);
    Label2 = new QLabel("100%", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(288, 38, 60, 18);
    Label2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label1 = new QLabel("0%", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(12, 38, 60, 18);
    job_ = new ActivationJob(this, [this] { Processa(); });
}

void frmAtualMenu::Form_Activate() {
    job_->run();
}

QString frmAtualMenu::tag() const {
    return job_->tag();
}

void frmAtualMenu::closeEvent(QCloseEvent* event) {
    // The window offers no cancel: once started, the reload runs to its end, which ends
    // the program anyway.
    if (!tag().isEmpty())
        event->ignore();
    else
        QWidget::closeEvent(event);
}

void frmAtualMenu::Processa() {
    QString caller = "Programa: frmAtualMenu\r\nRotina: Processa";
    try {
        reload();
        runs::record::menuReloaded();
    } catch (const KrvError& e) {
        ErroFatal(caller, e);
    } catch (const std::exception& e) {
        ErroFatal(caller, KrvError(err::Database, QString::fromLocal8Bit(e.what())));
    }
    msgBox("Arquivo atualizado com sucesso!", Buttons::OK, Icon::Information, "Concluído!");
    runs::LimpaTemporarios();
}

namespace {
// Undoes the open transaction unless it was committed, so that a failure anywhere in the
// reload leaves the previous menu and version.
class Transaction {
public:
    Transaction() : db_(Conexao().database()) {
        Conexao().requireOpen();
        if (!db_.transaction())
            throw KrvError(err::Database, "Não foi possível iniciar a transação: " +
                                              db_.lastError().text().trimmed());
    }
    ~Transaction() {
        if (!done_)
            db_.rollback();
    }
    void commit() {
        if (!db_.commit())
            throw KrvError(err::Database, "Não foi possível gravar a transação: " +
                                              db_.lastError().text().trimmed());
        done_ = true;
    }

private:
    QSqlDatabase db_;
    bool done_ = false;
};
} // namespace

void frmAtualMenu::reload() {
    MenuFileReader file(winJoin(updatekrv::DirSis, "\\update\\mnusis_cs.krv"));
    const int maximum = int(std::min<qint64>(file.size(), INT_MAX));
    Percent->setRange(0, std::max(maximum, 1));
    Percent->setValue(0);

    Transaction transaction;
    Connection& conexao = Conexao();
    kept::menuBeforeReload();
    conexao.Execute("delete from menu");
    MenuInsertBatch batch(1000, 200000, conexao.backslashEscapes());
    qint64 progress = 0;
    while (!file.atEnd()) {
        const QString line = file.readLine();
        // Every line counts its CR LF; a last line without one overshoots by two.
        progress += line.size() + 2;
        Percent->setValue(int(std::min<qint64>(progress, Percent->maximum())));
        yield();
        batch.add(parseMenuLine(line));
        if (batch.full())
            conexao.Execute(batch.take());
    }
    if (!batch.empty())
        conexao.Execute(batch.take());
    conexao.Execute(menuVersionUpdate(updatekrv::VersaoMenu, conexao.backslashEscapes()));
    transaction.commit();
}

} // namespace krv::runs
