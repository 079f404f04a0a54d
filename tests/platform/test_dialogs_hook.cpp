#include "hook_tap.h"
#include "platform/dialogs.h"
#include "platform/test_hook.h"
#include "platform/unattended_output.h"
#include "scripting/script_runner.h"

#include <QRegularExpression>
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

// The product's part on its own, as where no program installed the script side: boxes take
// their defaults and are still written down.
TEST(TestHook, WithoutTheScriptSideBoxesTakeTheirDefaults) {
    HookTap tap;
    hook::setScript(nullptr);
    const Answer answer = msgBox("Apagar?", Buttons::YesNo, Icon::Question, "T", Answer::No);
    const QString text = inputBox("Nome?", "T", "velho.zip");
    krv::scripting::install();
    EXPECT_EQ(answer, Answer::No);
    EXPECT_EQ(text, "velho.zip");
    EXPECT_EQ(tap.messages(), QStringList({"Apagar?"}));
}
