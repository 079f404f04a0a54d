#include "navigation/historico.h"

#include <QTextBlock>
#include <QTextEdit>
#include <QTextList>
#include <gtest/gtest.h>

using namespace krv::navigation;

namespace {

// What one paragraph of the box looks like to the reader.
struct Line {
    QString text;
    QString family;
    double points = 0;
    QColor colour;
    bool bold = false;
    bool italic = false;
    bool bullet = false;
};

QList<Line> linesOf(const QTextEdit& box) {
    QList<Line> out;
    for (QTextBlock b = box.document()->begin(); b.isValid(); b = b.next()) {
        Line l;
        l.text = b.text();
        // An empty paragraph carries its format on the paragraph mark.
        QTextCharFormat f = b.begin().atEnd() ? b.charFormat() : b.begin().fragment().charFormat();
        l.family = f.fontFamilies().toStringList().value(0);
        l.points = f.fontPointSize();
        l.colour = f.foreground().color();
        l.bold = f.fontWeight() == QFont::Bold;
        l.italic = f.fontItalic();
        l.bullet = b.textList() && b.textList()->format().style() == QTextListFormat::ListDisc;
        out << l;
    }
    return out;
}

QString pad(const QString& s, int width) {
    return s + QString(width - s.size(), u' ');
}

} // namespace

TEST(HistoryLayout, OneHeaderAndTwoMarkedLinesUnderABlueHeading) {
    QTextEdit box;
    HistoryText h(&box);
    h.appendSection(5, {{"01.31.05", "10/01/2024", "Corrige o boleto"},
                        {"01.31.05", "10/01/2024", "Novo relatório"}});
    const QList<Line> l = linesOf(box);
    ASSERT_EQ(l.size(), 5) << box.toPlainText().toStdString();

    EXPECT_EQ(l[0].text, "Control");
    EXPECT_EQ(l[0].family, "courier new");
    EXPECT_EQ(l[0].points, 10);
    EXPECT_EQ(l[0].colour, QColor(0, 0, 255));
    EXPECT_TRUE(l[0].bold);
    EXPECT_FALSE(l[0].italic);
    EXPECT_FALSE(l[0].bullet);

    EXPECT_EQ(l[1].text, pad("01.31.05", 12) + pad("10/01/2024", 12));
    EXPECT_EQ(l[1].points, 9);
    EXPECT_EQ(l[1].colour, QColor(0, 0, 0));
    EXPECT_FALSE(l[1].bold);
    EXPECT_FALSE(l[1].italic);
    EXPECT_FALSE(l[1].bullet);

    for (int i : {2, 3}) {
        EXPECT_EQ(l[i].family, "courier new");
        EXPECT_EQ(l[i].points, 9);
        EXPECT_FALSE(l[i].bold);
        EXPECT_TRUE(l[i].italic);
        EXPECT_TRUE(l[i].bullet) << i;
    }
    EXPECT_EQ(l[2].text, pad("Corrige o boleto", 100));
    EXPECT_EQ(l[3].text, pad("Novo relatório", 100));
    // Both descriptions belong to one list, so they read as one bulleted block.
    EXPECT_EQ(box.document()->findBlockByNumber(2).textList(),
              box.document()->findBlockByNumber(3).textList());

    EXPECT_EQ(l[4].text, "");
    EXPECT_FALSE(l[4].bullet);
}

TEST(HistoryLayout, FieldsAreCutAtTheirWidthsSoLateDifferencesShareAHeader) {
    QTextEdit box;
    HistoryText h(&box);
    const QString longDescription = QString(100, u'x') + "TAIL";
    h.appendSection(1, {{"01.31.05-beta-1", "10/01/2024 - manhã", longDescription},
                        {"01.31.05-beta-2", "10/01/2024 - tarde", "segunda"},
                        {"01.32.00", "2024-02-01", "outra versão"}});
    const QList<Line> l = linesOf(box);
    QStringList texts;
    for (const Line& x : l)
        texts << x.text;
    EXPECT_EQ(texts,
              QStringList({"Banco de Dados", "01.31.05-bet10/01/2024 -", QString(100, u'x'),
                           pad("segunda", 100), "", pad("01.32.00", 12) + pad("2024-02-01", 12),
                           pad("outra versão", 100), ""}));
    // The blank line between blocks carries no marker.
    EXPECT_FALSE(l[4].bullet);
    EXPECT_TRUE(l[6].bullet);
}

TEST(HistoryLayout, CodesWithoutHeadingFollowThePreviousSectionDirectly) {
    QTextEdit box;
    HistoryText h(&box);
    h.appendSection(11, {{"000012", "2024", "Menu novo"}});
    h.appendSection(12, {{"02.00.01", "2024", "Módulo sem título"}});
    QStringList texts;
    for (const Line& x : linesOf(box))
        texts << x.text;
    EXPECT_EQ(texts, QStringList({"Menu Lateral", pad("000012", 12) + pad("2024", 12),
                                  pad("Menu novo", 100), "", pad("02.00.01", 12) + pad("2024", 12),
                                  pad("Módulo sem título", 100), ""}));
    EXPECT_EQ(HistoryText::heading(9), "Vitrax");
    EXPECT_EQ(HistoryText::heading(10), "Vitrax");
    EXPECT_EQ(HistoryText::heading(0), "");
    EXPECT_EQ(HistoryText::heading(12), "");
}

TEST(HistoryLayout, SectionsWithoutRecords) {
    // A heading still shows, so the history is not empty.
    QTextEdit withHeading;
    HistoryText(&withHeading).appendSection(7, {});
    EXPECT_EQ(withHeading.toPlainText(), "Zapo\n");
    EXPECT_FALSE(HistoryText::isBlank(withHeading.toPlainText()));

    // Without a heading an empty history stays empty.
    QTextEdit withoutHeading;
    HistoryText(&withoutHeading).appendSection(40, {});
    EXPECT_TRUE(HistoryText::isBlank(withoutHeading.toPlainText()));
    EXPECT_EQ(withoutHeading.document()->blockCount(), 1);
}

TEST(HistoryLayout, OnlyTheFirstLineGoesWithoutALeadingBreak) {
    QTextEdit box;
    HistoryText h(&box);
    h.Inclui("primeira", LineKind::Header);
    h.Inclui("segunda", LineKind::Description);
    h.Inclui("", LineKind::Description);
    h.Inclui("terceira", LineKind::Description);
    EXPECT_EQ(box.toPlainText(), "primeira\nsegunda\n\nterceira");
    const QList<Line> l = linesOf(box);
    ASSERT_EQ(l.size(), 4);
    EXPECT_FALSE(l[0].bullet);
    EXPECT_TRUE(l[1].bullet);
    EXPECT_FALSE(l[2].bullet);
    EXPECT_TRUE(l[3].bullet);
    // The caret ends after the last line, where the next one goes.
    EXPECT_EQ(box.textCursor().position(), box.document()->characterCount() - 1);

    // Only blanks count as nothing: a box of spaces still takes its next line without a break.
    QTextEdit blanks;
    HistoryText b(&blanks);
    b.Inclui("   ", LineKind::Header);
    b.Inclui("texto", LineKind::Description);
    EXPECT_EQ(blanks.toPlainText(), "   texto");
}
