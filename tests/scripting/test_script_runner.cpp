// The script side of the test hook in-process: steps answer the boxes and act on windows.
#include "hook_tap.h"
#include "platform/dialogs.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

using namespace krv::platform;
using krv::test::HookTap;

TEST(TestHook, MessageBoxesTakeTheScriptedAnswerOrTheirFirstButton) {
    HookTap tap;
    krv::test::queue("msgbox No\nmsgbox Retry\n");
    EXPECT_EQ(msgBox("Continuar?", Buttons::YesNo, Icon::Question, "Aviso!"), Answer::No);
    // An answer the box does not offer falls back to its first button.
    EXPECT_EQ(msgBox("Sem escolha", Buttons::OK, Icon::None, ""), Answer::OK);
    EXPECT_EQ(msgBox("Outra", Buttons::OKCancel, Icon::Exclamation, "T"), Answer::OK);
    const auto lines = tap.lines();
    QStringList boxes;
    for (const auto& l : lines)
        if (l.kind == "msgbox")
            boxes << l.fields.join("|");
    ASSERT_EQ(boxes.size(), 3);
    EXPECT_EQ(boxes[0], "Aviso!|question|YesNo|Continuar?|No");
    // An empty title is the application's name.
    EXPECT_EQ(boxes[1], "zelvor-tests|none|OK|Sem escolha|OK");
    EXPECT_EQ(boxes[2], "T|exclamation|OKCancel|Outra|OK");
}

TEST(TestHook, InputBoxesTakeTheScriptedTextOrTheirDefault) {

    krv::test::queue("input novo nome.zip\n");
    EXPECT_EQ(inputBox("Nome?", "T", "velho.zip"), "novo nome.zip");
    EXPECT_EQ(inputBox("Nome?", "T", "velho.zip"), "velho.zip");
}

TEST(TestHook, ActionsReachControlsByWindowAndObjectName) {
    QWidget w;
    w.setObjectName("frmTeste");
    auto* edit = new QLineEdit(&w);
    edit->setObjectName("txtNome");
    auto* button = new QPushButton("OK", &w);
    button->setObjectName("cmdOK");
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    w.show();
    HookTap tap;
    krv::test::queue("type frmTeste.txtNome Maria da Silva\nclick frmTeste.cmdOK\n");
    for (int i = 0; i < 100 && clicks == 0; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    EXPECT_EQ(edit->text(), "Maria da Silva");
    EXPECT_EQ(clicks, 1);
    QStringList actions;
    for (const auto& l : tap.lines())
        if (l.kind == "action")
            actions << l.fields.value(0);
    EXPECT_EQ(actions,
              QStringList({"type frmTeste.txtNome Maria da Silva", "click frmTeste.cmdOK"}));
}
