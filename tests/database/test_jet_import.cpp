// Real Access files, written by an independent Access writer, against the listings mdb-export
// made of them (tests/data/access/expected).
#include "common/updatekrv.h"
#include "database/connection.h"
#include "database/jet_import.h"
#include "database/schema_snapshot.h"
#include "database/schema_sync.h"
#include "database/update_file.h"
#include "end_to_end.h"
#include "test_db.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <utility>

using namespace krv::database;
using krv::KrvError;

namespace {

const QString AccessDir = QStringLiteral(KRV_SOURCE_DIR "/tests/data/access");

// One value of an mdb-export listing: quoted text, or a bare number, or nothing.
struct Cell {
    bool quoted = false;
    QString text;
};
struct Table {
    QString name;
    QStringList columns;
    QList<QList<Cell>> rows;
};

QList<Cell> parseCsvLine(const QString& line) {
    QList<Cell> cells;
    Cell cur;
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (inQuotes) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
                cur.text += '"';
                ++i;
            } else if (c == '"') {
                inQuotes = false;
            } else {
                cur.text += c;
            }
        } else if (c == '"') {
            inQuotes = cur.quoted = true;
        } else if (c == ',') {
            cells << cur;
            cur = Cell();
        } else {
            cur.text += c;
        }
    }
    cells << cur;
    return cells;
}

// The tables of an expected listing, in catalog order.
QList<Table> readExpected(const QString& name) {
    QFile f(AccessDir + "/expected/" + name + ".txt");
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << f.fileName().toStdString();
    QList<Table> tables;
    bool header = false;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith("## mdb-export ")) {
            tables << Table{line.section(' ', -1), {}, {}};
            header = true;
        } else if (line.startsWith('#')) {
            continue;
        } else if (header) {
            tables.last().columns = line.split(',');
            header = false;
        } else {
            tables.last().rows << parseCsvLine(line);
        }
    }
    return tables;
}

// A read-only look at a working copy.
class Sqlite {
public:
    explicit Sqlite(const QString& path) {
        EXPECT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, SQLITE_OPEN_READWRITE,
                                  nullptr),
                  SQLITE_OK);
    }
    ~Sqlite() { sqlite3_close(db_); }
    // Every row of a query; each value as "type:text" ("null:", "integer:1", "text:a").
    QList<QStringList> rows(const QString& sql) const {
        QList<QStringList> out;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.toUtf8().constData(), -1, &st, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            QStringList row;
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                static const char* kinds[] = {"", "integer", "real", "text", "blob", "null"};
                const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
                row << QString(kinds[sqlite3_column_type(st, i)]) + ':' + QString::fromUtf8(t);
            }
            out << row;
        }
        sqlite3_finalize(st);
        return out;
    }
    QStringList column(const QString& sql) const {
        QStringList out;
        for (const QStringList& r : rows(sql))
            out << r.value(0).section(':', 1);
        return out;
    }
    bool exec(const QString& sql) const {
        return sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* db_ = nullptr;
};

QString quotedName(const QString& n) {
    return '"' + QString(n).replace('"', "\"\"") + '"';
}

class JetImport : public ::testing::Test {
protected:
    QTemporaryDir dir_;

    // The temporary folder is the suite's folder, so working copies stay in it.
    void SetUp() override {
        krv::updatekrv::DirSis = dir_.path();
        ASSERT_TRUE(QDir(dir_.path()).mkdir("update"));
    }
    void TearDown() override { krv::updatekrv::reset(); }

    // A copy of one of the test files in the update folder, named krv.mdb.
    QString place(const QString& file) {
        const QString target = dir_.filePath("update/krv.mdb");
        QFile::remove(target);
        EXPECT_TRUE(QFile::copy(AccessDir + "/" + file, target));
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
        return target;
    }
    QString write(const QString& name, const QByteArray& bytes) {
        QFile f(dir_.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return f.fileName();
    }

    // Imports the named test file and checks the copy against its mdb-export listing.
    void expectMatchesListing(const QString& name) {
        SCOPED_TRACE(name.toStdString());
        const QString copy = sqliteUpdateFile(place(name + ".mdb"));
        Sqlite db(copy);
        const QList<Table> expected = readExpected(name);
        QStringList expectedNames;
        for (const Table& t : expected)
            expectedNames << t.name;
        EXPECT_EQ(db.column("select name from sqlite_master where type='table' order by rowid"),
                  expectedNames);
        for (const Table& t : expected) {
            SCOPED_TRACE(t.name.toStdString());
            EXPECT_EQ(
                db.column("select name from pragma_table_info('" + t.name + "') order by cid"),
                t.columns);
            const QList<QStringList> rows =
                db.rows("select * from " + quotedName(t.name) + " order by rowid");
            ASSERT_EQ(rows.size(), t.rows.size());
            for (qsizetype r = 0; r < rows.size(); ++r) {
                ASSERT_EQ(rows[r].size(), t.rows[r].size()) << "row " << r;
                for (qsizetype c = 0; c < rows[r].size(); ++c) {
                    const Cell& want = t.rows[r][c];
                    // A bare value in the listing is a number, a quoted one text; nothing
                    // between the commas is a length-0 text.
                    const QString kind = want.quoted || want.text.isEmpty() ? "text" : "integer";
                    EXPECT_EQ(rows[r][c], kind + ':' + want.text)
                        << "row " << r << " column " << t.columns.value(c).toStdString();
                }
            }
        }
    }
};

TEST_F(JetImport, FilesAreToldByContentAndAnythingElseIsRefusedNamingTheFile) {
    const QByteArray sqlite = QByteArray("SQLite format 3\0", 16) + QByteArray(100, '\0');
    const QString lite = write("krv.mdb", sqlite);
    EXPECT_EQ(updateFileFormat(place("update-basic.mdb")), UpdateFileFormat::Jet);
    EXPECT_EQ(updateFileFormat(write("x.accdb", QByteArray(4, 0) + "Standard ACE DB")),
              UpdateFileFormat::Jet);
    EXPECT_EQ(updateFileFormat(write("x.mdb", "Standard Jet DB at byte 0")),
              UpdateFileFormat::Unknown);
    EXPECT_EQ(sqliteUpdateFile(lite), lite) << "an SQLite file is used as it is";
    EXPECT_FALSE(QFile::exists(jetWorkingCopyPath(lite)));

    const QString zip = write("zip.mdb", "PK\x03\x04 an archive");
    try {
        sqliteUpdateFile(zip);
        FAIL() << "accepted a file that is no update file";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), jet_err::NotUpdateFile);
        EXPECT_TRUE(e.description().contains(zip)) << e.description().toStdString();
        EXPECT_TRUE(e.description().contains("não é um arquivo de atualização"));
    }
    try {
        sqliteUpdateFile(dir_.filePath("absent.mdb"));
        FAIL() << "accepted a missing file";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), krv::err::FileNotFound);
        EXPECT_TRUE(e.description().contains("absent.mdb"));
    }
}

// Byte for byte, so the accented names, the apostrophe, the enum type and the euro sign of
// update-accents arrive as UTF-8; update-password must read like update-basic.
TEST_F(JetImport, EveryFileGivesExactlyItsListedTablesColumnsRowsAndValues) {
    for (const char* name :
         {"update-basic", "update-accents", "update-empty-numero", "update-password"})
        expectMatchesListing(name);
}

TEST_F(JetImport, TheWorkingCopyLiesNextToTheFileOnlyInTheUpdateFolder) {
    const QString mdb = place("update-basic.mdb");
    const QString copy = sqliteUpdateFile(mdb);
    EXPECT_EQ(QFileInfo(copy).absolutePath(), QFileInfo(mdb).absolutePath());
    EXPECT_NE(copy, mdb);
    EXPECT_EQ(updateFileFormat(copy), UpdateFileFormat::SQLite);
    EXPECT_EQ(updateFileFormat(mdb), UpdateFileFormat::Jet) << "the shipped file is untouched";
    EXPECT_EQ(QDir(dir_.filePath("update")).entryList(QDir::Files).size(), 2)
        << "no partial file left";

    // A source medium is the user's (and may be read-only): nothing is written beside it.
    QTemporaryDir medium;
    const QString source = medium.filePath("krv.mdb");
    const QString stale = QDir::temp().filePath("zelvor-2147483646-krv.mdb.sqlite");
    QFile(stale).open(QIODevice::WriteOnly);
    const QString unstamped = QDir::temp().filePath("zelvor-semid-krv.mdb.sqlite");
    QFile(unstamped).open(QIODevice::WriteOnly);
    ASSERT_TRUE(QFile::copy(mdb, source));
    QFile::setPermissions(medium.path(), QFile::ReadOwner | QFile::ExeOwner);
    const QString elsewhere = sqliteUpdateFile(source);
    QFile::setPermissions(medium.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(QDir(medium.path()).entryList(QDir::Files), QStringList{"krv.mdb"});
    EXPECT_EQ(QFileInfo(elsewhere).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_EQ(Sqlite(elsewhere).column("select CodAtu from numero"), QStringList{"000132"});
    EXPECT_TRUE(QFile::remove(elsewhere));
    EXPECT_FALSE(QFile::exists(stale)) << "a copy of an ended process stays behind";
    EXPECT_TRUE(QFile::remove(unstamped)) << "a name without a process id is not ours";
}

TEST_F(JetImport, EmptyTextsAreNeverNullAndTheSnapshotTablesTakeTheirRows) {
    Sqlite db(sqliteUpdateFile(place("update-basic.mdb")));
    // libmdb cannot tell a null text from a zero-length one: both come out empty, never null.
    EXPECT_EQ(db.column("select count(*) from campos where [default] is null or [key] is null "
                        "or extra is null"),
              QStringList{"0"});
    EXPECT_EQ(db.column("select field from campos where [default]='' and [key]='' and extra='' "
                        "and [table]='clientes'"),
              (QStringList{"nome", "email"}));
    // The snapshot tables take the rows the snapshot writes: quoted numbers become numbers.
    EXPECT_TRUE(db.exec("insert into d_indices values ('t','PRIMARY','id','2','0')"));
    EXPECT_EQ(db.column("select typeof(seq_in_index) || seq_in_index from d_indices"),
              QStringList{"integer2"});
    EXPECT_TRUE(db.exec("insert into d_campos values ('t','c','int(11)','NO','','','')"));
}

TEST_F(JetImport, AFreshImportReplacesAnEarlierCopyAndAFailedOneLeavesItAlone) {
    const QString mdb = place("update-basic.mdb");
    const QString copy = jetWorkingCopyPath(mdb);
    write("update/" + QFileInfo(copy).fileName(), "left over from an interrupted run");
    EXPECT_EQ(sqliteUpdateFile(mdb), copy);
    EXPECT_EQ(Sqlite(copy).column("select CodAtu from numero"), QStringList{"000132"});

    // A damaged file: only the header page survived.
    QFile src(mdb);
    ASSERT_TRUE(src.open(QIODevice::ReadOnly));
    const QString cut = write("cut.mdb", src.read(4096));
    try {
        importJet(cut, copy);
        FAIL() << "read a truncated file";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), jet_err::Unreadable);
        EXPECT_TRUE(e.description().contains(cut)) << e.description().toStdString();
    }
    EXPECT_EQ(Sqlite(copy).column("select CodAtu from numero"), QStringList{"000132"});
    EXPECT_FALSE(QFile::exists(copy + ".part"));
}

QByteArray rc4(quint32 key, const QByteArray& data) {
    unsigned char k[4] = {uchar(key), uchar(key >> 8), uchar(key >> 16), uchar(key >> 24)};
    unsigned char st[256];
    for (int i = 0; i < 256; ++i)
        st[i] = uchar(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + st[i] + k[i % 4]) & 255;
        std::swap(st[i], st[j]);
    }
    QByteArray out = data;
    for (qsizetype n = 0, i = 0, j = 0; n < out.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + st[i]) & 255;
        std::swap(st[i], st[j]);
        out[n] = char(out[n] ^ st[(st[i] + st[j]) & 255]);
    }
    return out;
}

// Access's own page encoding of Jet 4: every page after the header RC4-encoded with the
// database key, which lies in the (masked) header. libmdb undoes it; the file is no
// encrypted file to refuse.
TEST_F(JetImport, AnEncodedJet4FileReadsLikeThePlainOne) {
    QFile src(AccessDir + "/update-basic.mdb");
    ASSERT_TRUE(src.open(QIODevice::ReadOnly));
    QByteArray bytes = src.readAll();
    const quint32 headerMask = 0x6b39dac7, key = 0x1234abcd;
    QByteArray header = rc4(headerMask, bytes.mid(0x18, 128));
    for (int i = 0; i < 4; ++i)
        header[0x3e - 0x18 + i] = char(key >> (8 * i));
    bytes.replace(0x18, 128, rc4(headerMask, header));
    for (qsizetype page = 1; page < bytes.size() / 4096; ++page)
        bytes.replace(page * 4096, 4096, rc4(key ^ quint32(page), bytes.mid(page * 4096, 4096)));
    const QString plain = dir_.filePath("plain.sqlite"), encoded = dir_.filePath("encoded.sqlite");
    importJet(src.fileName(), plain);
    importJet(write("encoded.mdb", bytes), encoded);
    Sqlite a(plain), b(encoded);
    const QStringList tables = a.column("select name from sqlite_master order by rowid");
    EXPECT_EQ(tables.size(), 7);
    for (const QString& t : tables)
        EXPECT_EQ(b.rows("select * from " + t), a.rows("select * from " + t)) << t.toStdString();
}

// Pages scrambled with a key the header does not carry, as an encrypted file looks to a
// reader without the key.
TEST_F(JetImport, EncryptedPagesGiveAClearError) {
    QFile src(AccessDir + "/update-basic.mdb");
    ASSERT_TRUE(src.open(QIODevice::ReadOnly));
    QByteArray bytes = src.readAll();
    quint32 state = 0x2545F491;
    for (qsizetype i = 4096; i < bytes.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(bytes[i] ^ char(state >> 24));
    }
    const QString mdb = write("krv.mdb", bytes);
    try {
        sqliteUpdateFile(mdb);
        FAIL() << "read an encrypted file";
    } catch (const KrvError& e) {
        EXPECT_EQ(e.number(), jet_err::Encrypted);
        EXPECT_TRUE(e.description().contains(mdb));
        EXPECT_TRUE(e.description().contains("criptografado"));
    }
    EXPECT_FALSE(QFile::exists(jetWorkingCopyPath(mdb)));
}

// The same reference as an SQLite update file, written from the mdb-export listing, so the
// two routes to the live database share nothing but the comparison itself.
void sqliteFromListing(const QString& name, const QString& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
              SQLITE_OK);
    for (const Table& t : readExpected(name)) {
        QStringList cols;
        for (const QString& c : t.columns)
            cols << quotedName(c) + (c == "seq_in_index" ? " INTEGER" : " TEXT");
        ASSERT_EQ(sqlite3_exec(db,
                               ("create table " + quotedName(t.name) + " (" + cols.join(',') + ")")
                                   .toUtf8()
                                   .constData(),
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_stmt* st = nullptr;
        const QString marks = QStringList(t.columns.size(), "?").join(',');
        sqlite3_prepare_v2(
            db,
            ("insert into " + quotedName(t.name) + " values (" + marks + ")").toUtf8().constData(),
            -1, &st, nullptr);
        for (const QList<Cell>& row : t.rows) {
            for (int i = 0; i < row.size(); ++i) {
                const QByteArray v = row[i].text.toUtf8();
                if (row[i].quoted || v.isEmpty())
                    sqlite3_bind_text(st, i + 1, v.constData(), int(v.size()), SQLITE_TRANSIENT);
                else
                    sqlite3_bind_int64(st, i + 1, v.toLongLong());
            }
            EXPECT_EQ(sqlite3_step(st), SQLITE_DONE);
            sqlite3_reset(st);
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
}

// Every column and index column of the live database, as the server describes them.
QStringList liveStructure(const krv::test::ScratchDatabase& live) {
    QStringList rows;
    QSqlQuery q(live.db());
    EXPECT_TRUE(q.exec("select table_name, column_name, column_type, is_nullable, "
                       "ifnull(column_default, '<none>'), extra from information_schema.columns "
                       "where table_schema = database() order by table_name, ordinal_position"));
    while (q.next())
        rows << QStringList{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                            q.value(3).toString(), q.value(4).toString(), q.value(5).toString()}
                    .join('|');
    EXPECT_TRUE(q.exec("select table_name, index_name, seq_in_index, column_name, non_unique "
                       "from information_schema.statistics where table_schema = database() "
                       "order by table_name, index_name, seq_in_index"));
    while (q.next())
        rows << "index " + QStringList{q.value(0).toString(), q.value(1).toString(),
                                       q.value(2).toString(), q.value(3).toString(),
                                       q.value(4).toString()}
                               .join('|');
    return rows;
}

// A live database that already holds part of the structure, a little off: the update
// modifies a column and adds an index as well as creating tables.
class JetSchemaUpdate : public JetImport {
protected:
    QStringList applyUpdate(krv::test::ScratchDatabase& live, const QString& updateFile) {
        EXPECT_TRUE(live.ok());
        live.exec("create table pedidos (id int(11) NOT NULL auto_increment, cliente "
                  "varchar(10), obs text, primary key (id))");
        sync(live, updateFile);
        return liveStructure(live);
    }
    // The statements one run sends.
    static QStringList sync(krv::test::ScratchDatabase& live, const QString& updateFile) {
        Connection conexao;
        conexao.Open(1, live.connectionString());
        const UpdateFile file = openUpdateFile(updateFile);
        LerEstrutura(file, conexao);
        prepareLookups(file);
        QStringList sent;
        SyncView view;
        view.executed = [&](const QString& s) { sent << s; };
        SchemaSync(file, conexao, view).run();
        return sent;
    }
};

TEST_F(JetSchemaUpdate, AccessFilesGiveTheSameLiveStructureAsTheSameSqliteReference) {
    for (const QString name : {"update-basic", "update-accents"}) {
        SCOPED_TRACE(name.toStdString());
        krv::test::ScratchDatabase viaAccess, viaSqlite;
        const QString reference = dir_.filePath(name + ".sqlite");
        sqliteFromListing(name, reference);
        const QStringList got = applyUpdate(viaAccess, place(name + ".mdb"));
        EXPECT_EQ(got, applyUpdate(viaSqlite, reference));

        // What the reference prescribes did reach the server.
        EXPECT_TRUE(got.contains("clientes|id|int(11)|NO|<none>|auto_increment"));
        EXPECT_TRUE(got.contains("pedidos|cliente|int(11)|YES|NULL|"));
        EXPECT_TRUE(got.contains("index pedidos|idx_cliente|1|cliente|1"));
        EXPECT_TRUE(got.contains("index produtos|PRIMARY|1|codigo|0"));
        EXPECT_TRUE(got.contains("produtos|preco|decimal(10,2)|NO|0.00|"));
        if (name == "update-accents") {
            EXPECT_TRUE(got.contains("clientes|situação|enum('a','b')|NO|'a'|"));
            EXPECT_TRUE(got.contains("clientes|contato|varchar(60)|YES|'O''Brien'|"));
            EXPECT_TRUE(got.contains(
                "promoções|observação|text|YES|'INFORMAÇÕES GERAIS: preço em \u20AC'|"));
            EXPECT_TRUE(got.contains("index promoções|idx_descrição|1|descrição|1"));
        }
        // Accented names match their live selves: a second run has nothing to do.
        const QStringList again = sync(viaAccess, place(name + ".mdb"));
        EXPECT_TRUE(again.isEmpty()) << again.join('\n').toStdString();
        if (HasFailure())
            ADD_FAILURE() << got.join('\n').toStdString();
    }
}

// Whole directory runs of the real zelvor with the maker's Access file as the source
// folder's krv.mdb.
class JetDirectoryRun : public krv::test::EndToEnd {
protected:
    QTemporaryDir source;

    void ship(const QString& file) {
        ASSERT_TRUE(QFile::copy(AccessDir + "/" + file, source.filePath("krv.mdb")));
    }
    krv::test::RunResult run() { return runDirectory(source.path(), nullptr, 120); }
    static QStringList of(const krv::test::RunResult& r, const QString& kind,
                          const QString& window = {}) {
        QStringList out;
        for (const auto& l : r.of(kind))
            if (window.isEmpty() || l.fields.value(0) == window)
                out << l.fields.value(window.isEmpty() ? 0 : 1);
        return out;
    }
};

TEST_F(JetDirectoryRun, AnAccessFileWithoutNumeroRowIsInvalid) {
    ship("update-empty-numero.mdb");
    const auto r = run();
    const std::string t = r.transcriptText().toStdString();
    ASSERT_FALSE(r.messages().isEmpty()) << t;
    EXPECT_EQ(r.messages().last(), "Arquivo <krv.mdb> inválido!") << t;
    EXPECT_EQ(r.of("msgbox").last().fields.value(0), "Aviso!");
    EXPECT_EQ(r.exitCode, 0) << t;
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "000131");
    EXPECT_EQ(QDir(source.path()).entryList(QDir::Files), QStringList{"krv.mdb"});
}

TEST_F(JetDirectoryRun, ADueAccessUpdateRunsToItsEndAndASecondRunFindsNothingDue) {
    ship("update-basic.mdb");
    auto r = run();
    std::string t = r.transcriptText().toStdString();
    EXPECT_TRUE(of(r, "status", "frmProcDir").contains("Atualizando Banco de Dados")) << t;
    EXPECT_TRUE(of(r, "show").contains("frmAtualKRV")) << t;
    ASSERT_FALSE(r.messages().isEmpty()) << t;
    EXPECT_EQ(r.messages().last(), "Atualização concluída com sucesso!") << t;
    EXPECT_EQ(r.exitCode, 0) << t;
    EXPECT_EQ(suite.db().scalar("select ult_atualizacao from licensa"), "000132");
    EXPECT_EQ(suite.db().column("show tables"),
              (QStringList{"clientes", "licensa", "pedidos", "produtos"}));
    EXPECT_EQ(suite.db().column("show columns from produtos"),
              (QStringList{"codigo", "descricao", "preco"}));
    // The working copy went with the update folder; the medium holds only what it held.
    EXPECT_FALSE(QFileInfo::exists(suite.updateFolder()));
    EXPECT_EQ(QDir(source.path()).entryList(QDir::Files), QStringList{"krv.mdb"});

    r = run();
    t = r.transcriptText().toStdString();
    ASSERT_FALSE(r.messages().isEmpty()) << t;
    EXPECT_EQ(r.messages().last(), "Nenhuma atualização realizada!") << t;
    EXPECT_FALSE(of(r, "show").contains("frmAtualKRV")) << t;
}

} // namespace
