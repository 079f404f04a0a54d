#include "hook_tap.h"
#include "platform/dialogs.h"
#include "platform/test_hook.h"
#include "platform/unattended_output.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>

using namespace krv::platform;
using krv::test::HookTap;

TEST(TestHook, FieldsSurviveEscaping) {
    const QString s = "a\tb\r\nc\\d";
    EXPECT_EQ(hook::escape(s), "a\\tb\\r\\nc\\\\d");
    EXPECT_EQ(hook::unescape(hook::escape(s)), s);
    // Every character some reader ends a line at, or a terminal acts on, stays on the line: a
    // version text from the server cannot split the unattended output or the record's log.
    const struct {
        char16_t c;
        const char* written;
    } breaks[] = {{0x85, "\\u0085"}, {0x2028, "\\u2028"}, {0x2029, "\\u2029"},
                  {0x1b, "\\u001b"}, {0x0b, "\\u000b"},   {0x7f, "\\u007f"}};
    for (const auto& b : breaks) {
        const QString text = "01.32" + QString(QChar(b.c)) + "00";
        EXPECT_EQ(hook::escape(text), "01.32" + QString(b.written) + "00");
        EXPECT_EQ(hook::escapeControls(text), "01.32" + QString(b.written) + "00");
        EXPECT_EQ(hook::unescape(hook::escape(text)), text);
        const QString line = unattendedLine("t", "status", {"frmInicio", text});
        EXPECT_EQ(line.split(QRegularExpression("[\\r\\n\\x{85}\\x{2028}\\x{2029}]")).size(), 1);
    }
    EXPECT_EQ(hook::escapeControls("a\tb\r\n"), "a\tb\r\n"); // the log's caller folds these
}

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
