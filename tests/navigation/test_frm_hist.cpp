#include "hook_tap.h"
#include "navigation/frm_hist.h"
#include "navigation/historico.h"
#include "platform/program.h"

#include <QPrinterInfo>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>

using namespace krv;
using navigation::HistoryText;

class HistoryWindow : public ::testing::Test {
protected:
    void SetUp() override {
        platform::setEndHandler([](int code) { throw platform::ProgramEnded{code}; });
        HistoryText h(w.RText);
        h.appendSection(5, {{"01.31.05", "2024", "Corrige o boleto"}});
    }
    void TearDown() override { platform::setEndHandler({}); }
    navigation::frmHist w;
};

TEST_F(HistoryWindow, TheUpdateButtonFollowsTheTerms) {
    EXPECT_EQ(w.windowTitle(), "Histórico das Alterações nos Módulos");
    EXPECT_FALSE(w.SSCommand1->isEnabled());
    EXPECT_FALSE(w.optTermos[0]->isChecked() || w.optTermos[1]->isChecked());
    w.optTermos[1]->click();
    EXPECT_TRUE(w.SSCommand1->isEnabled());
    w.optTermos[0]->click();
    EXPECT_FALSE(w.SSCommand1->isEnabled());
    EXPECT_EQ(w.optTermos[1]->text(), "Aceito os termos!");
    EXPECT_EQ(w.optTermos[0]->text(), "Não aceito os termos!");
    EXPECT_EQ(w.findChild<QRadioButton*>("optTermos(1)"), w.optTermos[1]);
}

TEST_F(HistoryWindow, PrintsTheSelectionOrTheWholeText) {
    EXPECT_EQ(navigation::printableHistory(*w.RText)->toPlainText(), w.RText->toPlainText());
    QTextCursor c(w.RText->document());
    c.setPosition(0);
    c.setPosition(4, QTextCursor::KeepAnchor);
    w.RText->setTextCursor(c);
    EXPECT_EQ(navigation::printableHistory(*w.RText)->toPlainText(), "Cont");
}

TEST_F(HistoryWindow, PrintingAsksFirstAndSaysWhenThereIsNoPrinter) {
    if (!QPrinterInfo::defaultPrinter().isNull())
        GTEST_SKIP() << "this machine has a default printer";
    {
        test::HookTap tap;
        test::queue("msgbox No\n");
        w.cmdImpr_Click();
        EXPECT_EQ(tap.messages(), QStringList({"Confirma a impressão do documento?"}));
        ASSERT_EQ(tap.lines().size(), 1);
        EXPECT_EQ(tap.lines()[0].fields.mid(0, 3), QStringList({"Aviso!", "question", "YesNo"}));
    }
    test::HookTap tap;
    test::queue("msgbox Yes\n");
    w.cmdImpr_Click();
    const QStringList m = tap.messages();
    ASSERT_EQ(m.size(), 2);
    EXPECT_TRUE(m[1].contains("impressora")) << m[1].toStdString();
}

TEST_F(HistoryWindow, CancelAndClosingTheFrameEndTheProgram) {
    EXPECT_THROW(w.cmdCanc_Click(), platform::ProgramEnded);
    EXPECT_THROW(w.close(), platform::ProgramEnded);
}
