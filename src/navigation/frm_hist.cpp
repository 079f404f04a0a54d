#include "navigation/frm_hist.h"

#include "platform/dialogs.h"
#include "platform/forms.h"
#include "platform/program.h"
#include "runs/frm_proc.h"
#include "runs/run_session.h"
#include "runs/window_observer.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QVBoxLayout>

namespace krv::navigation {

using namespace platform;

const QString frmHist::Terms =
    "Antes de instalar qualquer atualização e/ou modificação do(s) sistema(s) Norvale, o usuário "
    "se responsabiliza a realizar uma cópia de segurança dos arquivos do sistema KRV e efetuar "
    "testes de modo que sua rotina diária não seja comprometida (emissão de boletos, relatórios, "
    "e outros processos).";

frmHist::frmHist() {
    setObjectName("frmHist");
    setWindowTitle("Histórico das Alterações nos Módulos");
    resize(720, 520);

    RText = new QTextEdit(this);
    RText->setObjectName("RText");
    // The user reads and selects (to print a part); the text is the server's, not theirs.
    RText->setReadOnly(true);
    RText->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    RText->setLineWrapMode(QTextEdit::NoWrap);

    lblTermos = new QLabel(Terms, this);
    lblTermos->setObjectName("lblTermos");
    lblTermos->setWordWrap(true);
    lblTermos->setFont(QFont("Verdana", 8));

    optTermos[1] = new QRadioButton("Aceito os termos!", this);
    optTermos[0] = new QRadioButton("Não aceito os termos!", this);
    for (int i : {1, 0}) {
        optTermos[i]->setObjectName(QString("optTermos(%1)").arg(i));
        connect(optTermos[i], &QRadioButton::clicked, this, [this, i] { optTermos_Click(i); });
    }

    SSCommand1 = new QPushButton("&Efetuar Atualização", this);
    SSCommand1->setObjectName("SSCommand1");
    SSCommand1->setEnabled(false);
    cmdImpr = new QPushButton("&Imprimir", this);
    cmdImpr->setObjectName("cmdImpr");
    cmdCanc = new QPushButton("&Cancelar", this);
    cmdCanc->setObjectName("cmdCanc");
    connect(SSCommand1, &QPushButton::clicked, this, &frmHist::SSCommand1_Click);
    connect(cmdImpr, &QPushButton::clicked, this, &frmHist::cmdImpr_Click);
    connect(cmdCanc, &QPushButton::clicked, this, &frmHist::cmdCanc_Click);

    auto* options = new QHBoxLayout;
    options->addWidget(optTermos[1]);
    options->addWidget(optTermos[0]);
    options->addStretch();
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdImpr);
    buttons->addStretch();
    buttons->addWidget(SSCommand1);
    buttons->addWidget(cmdCanc);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(RText, 1);
    layout->addWidget(lblTermos);
    layout->addLayout(options);
    layout->addLayout(buttons);
}

void frmHist::optTermos_Click(int index) {
    SSCommand1->setEnabled(index == 1);
}

void frmHist::cmdImpr_Click() {
    if (msgBox("Confirma a impressão do documento?", Buttons::YesNo, Icon::Question, "Aviso!") ==
        Answer::No)
        return;
    printHistory(*RText);
}

void frmHist::cmdCanc_Click() {
    refuseTerms();
}

void frmHist::SSCommand1_Click() {
    running_ = true;
    auto& proc = form<runs::frmProc>();
    proc.show();
    proc.Processa();
    unload(this);
}

void frmHist::closeEvent(QCloseEvent* event) {
    if (running_) {
        event->ignore();
        return;
    }
    refuseTerms();
}

void refuseTerms() {
    runs::WindowObserver observer;
    runs::Observing observing(&observer);
    runs::session().refuseTerms();
    endProgram(0); // the observer has ended it already
}

std::unique_ptr<QTextDocument> printableHistory(const QTextEdit& box) {
    const QTextCursor c = box.textCursor();
    if (!c.hasSelection())
        return std::unique_ptr<QTextDocument>(box.document()->clone());
    auto doc = std::make_unique<QTextDocument>();
    QTextCursor(doc.get()).insertFragment(c.selection());
    return doc;
}

bool printHistory(const QTextEdit& box) {
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull()) {
        msgBox("Não há impressora configurada neste computador. Configure uma impressora padrão "
               "e tente novamente.",
               Buttons::OK, Icon::Exclamation, "Aviso!");
        return false;
    }
    QPrinter printer(info, QPrinter::HighResolution);
    printer.setDocName("Histórico das Alterações nos Módulos");
    printableHistory(box)->print(&printer);
    if (printer.printerState() == QPrinter::Error) {
        msgBox("Não foi possível imprimir o documento na impressora " + info.printerName() + ".",
               Buttons::OK, Icon::Exclamation, "Aviso!");
        return false;
    }
    return true;
}

} // namespace krv::navigation
