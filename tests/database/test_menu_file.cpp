#include "database/menu_file.h"
#include "menu_records.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace krv::database;
using krv::KrvError;

using krv::test::menuRecord;

TEST(MenuLine, FieldsAreCutByPositionWhateverTheLineLength) {
    const QString full =
        menuRecord("Estoque", "005", "Produtos", "mnuProdutos", "3", "mnuEstoque", "1");
    ASSERT_EQ(full.size(), 155);
    const MenuRecord r = parseMenuLine(full);
    EXPECT_EQ(r.NomeInter, QString("mnuProdutos").leftJustified(20));
    EXPECT_EQ(r.Nivel, 3);
    EXPECT_EQ(r.Programa, 1);
    // Anything after position 155 is not part of the record.
    EXPECT_EQ(parseMenuLine(full + "9XYZ"), r);
    // A line ending inside a field gives the part that is there, later fields are empty.
    const MenuRecord cut = parseMenuLine(full.left(60));
    EXPECT_EQ(cut.sequencia, "005");
    EXPECT_EQ(cut.Menu, "Produto");
    EXPECT_EQ(cut.NomeInter, "");
    EXPECT_EQ(cut.Nivel, 0);
    EXPECT_EQ(parseMenuLine(QString()), MenuRecord{});
}

TEST(MenuLine, NumericFieldsThatAreNoDigitStoreZero) {
    for (const QString c : {" ", "A", "-", "+", "&", "\u00b9"}) {
        const MenuRecord r = parseMenuLine(menuRecord("S", "001", "M", "N", c, "A", c));
        EXPECT_EQ(r.Nivel, 0) << c.toStdString();
        EXPECT_EQ(r.Programa, 0) << c.toStdString();
    }
    const MenuRecord nine = parseMenuLine(menuRecord("S", "001", "M", "N", "9", "A", "0"));
    EXPECT_EQ(nine.Nivel, 9);
    EXPECT_EQ(nine.Programa, 0);
}

class MenuFile : public ::testing::Test {
protected:
    QString write(const QByteArray& bytes) {
        const QString path = dir_.filePath("mnusis_cs.krv");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bytes);
        return path;
    }
    static QStringList readAll(MenuFileReader& reader) {
        QStringList lines;
        while (!reader.atEnd())
            lines << reader.readLine();
        return lines;
    }
    QTemporaryDir dir_;
};

TEST_F(MenuFile, ReadsWindows1252LinesWithoutTheirLineEnds) {
    // "Usuários", "Preço €", "Ação" in Windows-1252, then a last line without its end.
    MenuFileReader reader(write("Usu\xe1rios\r\nPre\xe7o \x80\r\n\r\nA\xe7\xe3o"));
    EXPECT_EQ(reader.size(), 25);
    EXPECT_EQ(readAll(reader), QStringList({"Usuários", "Preço €", "", "Ação"}));
}

TEST_F(MenuFile, LineFeedAloneAlsoEndsALineAndATrailingEndAddsNoLine) {
    MenuFileReader reader(write("um\ndois\r\n"));
    EXPECT_EQ(readAll(reader), QStringList({"um", "dois"}));
    MenuFileReader empty(write(""));
    EXPECT_EQ(empty.size(), 0);
    EXPECT_TRUE(empty.atEnd());
}

TEST_F(MenuFile, AMissingFileIsAFileNotFoundError) {
    try {
        MenuFileReader reader(dir_.filePath("nada.krv"));
        FAIL() << "no error";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), krv::err::FileNotFound);
        EXPECT_TRUE(e.description().contains("nada.krv"));
    }
    EXPECT_THROW(MenuFileReader{dir_.path()}, KrvError);
}

TEST(MenuInserts, RowsAreSplitIntoStatementsByCountAndBySize) {
    MenuRecord r = parseMenuLine(menuRecord("Sistema", "001", "M", "N", "1", "A", "1"));
    MenuInsertBatch byRows(3, 1 << 20);
    int statements = 0, rows = 0;
    for (int i = 0; i < 7; ++i) {
        byRows.add(r);
        if (byRows.full()) {
            rows += byRows.rows();
            EXPECT_TRUE(byRows.take().startsWith("insert into menu ("));
            ++statements;
            EXPECT_TRUE(byRows.empty());
        }
    }
    EXPECT_EQ(statements, 2);
    EXPECT_EQ(byRows.rows(), 1);
    EXPECT_EQ(rows + byRows.rows(), 7);

    MenuInsertBatch bySize(1000, 500);
    bySize.add(r);
    EXPECT_FALSE(bySize.full());
    bySize.add(r);
    bySize.add(r);
    EXPECT_TRUE(bySize.full());
    EXPECT_GE(bySize.take().size(), 500);
}
