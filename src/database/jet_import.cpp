#include "database/jet_import.h"

#include "common/updatekrv.h"
#include "platform/scratch_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <filesystem>
#include <mdbtools.h>
#include <memory>
#include <sqlite3.h>
#include <vector>

namespace krv::database {

namespace {

// Large enough for a long memo value; libmdb writes at most this many bytes per value.
constexpr size_t BindSize = 256 * 1024;

QString shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

[[noreturn]] void unreadable(const QString& path, const QString& reason) {
    throw KrvError(jet_err::Unreadable, "O arquivo " + shown(path) +
                                            " não é um arquivo de atualização legível: banco "
                                            "Access danificado (" +
                                            reason + ").");
}

struct MdbCloser {
    void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableFreer {
    void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using MdbPtr = std::unique_ptr<MdbHandle, MdbCloser>;
using TablePtr = std::unique_ptr<MdbTableDef, TableFreer>;

// The SQLite side of the copy: one transaction, prepared inserts.
class SqliteWriter {
public:
    SqliteWriter(const QString& path) : path_(path) {
        if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db_,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            fail();
        exec("begin");
    }
    ~SqliteWriter() {
        sqlite3_finalize(insert_);
        sqlite3_close(db_);
    }
    SqliteWriter(const SqliteWriter&) = delete;
    SqliteWriter& operator=(const SqliteWriter&) = delete;

    void exec(const QByteArray& sql) {
        if (sqlite3_exec(db_, sql.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
            fail();
    }
    void prepare(const QByteArray& sql) {
        sqlite3_finalize(insert_);
        insert_ = nullptr;
        if (sqlite3_prepare_v2(db_, sql.constData(), -1, &insert_, nullptr) != SQLITE_OK)
            fail();
    }
    sqlite3_stmt* insert() { return insert_; }
    void step() {
        if (sqlite3_step(insert_) != SQLITE_DONE)
            fail();
        sqlite3_reset(insert_);
        sqlite3_clear_bindings(insert_);
    }
    void commit() { exec("commit"); }

private:
    [[noreturn]] void fail() {
        const QString why = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : "sem memória";
        throw KrvError(err::FileAccess,
                       "Não foi possível gravar a cópia de trabalho " + shown(path_) + ": " + why);
    }
    QString path_;
    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
};

QByteArray quoted(const char* name) {
    QByteArray q(name);
    q.replace('"', "\"\"");
    return '"' + q + '"';
}

enum class Kind { Text, Integer, Real, Numeric, Blob, Ole };

Kind kindOf(int colType) {
    switch (colType) {
    case MDB_BOOL:
    case MDB_BYTE:
    case MDB_INT:
    case MDB_LONGINT:
        return Kind::Integer;
    case MDB_FLOAT:
    case MDB_DOUBLE:
        return Kind::Real;
    case MDB_MONEY:
    case MDB_NUMERIC:
        return Kind::Numeric;
    case MDB_BINARY:
        return Kind::Blob;
    case MDB_OLE:
        return Kind::Ole;
    default: // text, memo, date and time, replication id
        return Kind::Text;
    }
}

const char* declaredType(Kind k) {
    switch (k) {
    case Kind::Integer:
        return "INTEGER";
    case Kind::Real:
        return "REAL";
    case Kind::Numeric:
        return "NUMERIC";
    case Kind::Blob:
    case Kind::Ole:
        return "BLOB";
    case Kind::Text:
        break;
    }
    return "TEXT";
}

struct BoundColumn {
    MdbColumn* col;
    Kind kind;
    std::vector<char> buffer;
    int length = 0;
};

// libmdb prints real numbers with the C library's printf, so the decimal separator follows
// the process locale.
QByteArray numberText(const BoundColumn& c) {
    QByteArray s(c.buffer.data(), c.length);
    s.replace(',', '.');
    return s;
}

void bindValue(sqlite3_stmt* st, int index, MdbHandle* mdb, BoundColumn& c,
               const QString& jetPath) {
    if (c.length >= static_cast<int>(BindSize) - 1)
        unreadable(jetPath, QString("valor longo demais na coluna %1").arg(c.col->name));
    if (c.kind == Kind::Text) {
        sqlite3_bind_text(st, index, c.buffer.data(), c.length, SQLITE_TRANSIENT);
        return;
    }
    if (c.length == 0) {
        sqlite3_bind_null(st, index);
        return;
    }
    switch (c.kind) {
    case Kind::Integer: {
        bool ok = false;
        const qlonglong v = QByteArray(c.buffer.data(), c.length).trimmed().toLongLong(&ok);
        if (ok)
            sqlite3_bind_int64(st, index, v);
        else
            sqlite3_bind_text(st, index, c.buffer.data(), c.length, SQLITE_TRANSIENT);
        return;
    }
    case Kind::Real: {
        bool ok = false;
        const QByteArray s = numberText(c);
        const double v = s.trimmed().toDouble(&ok);
        if (ok)
            sqlite3_bind_double(st, index, v);
        else
            sqlite3_bind_text(st, index, s.constData(), int(s.size()), SQLITE_TRANSIENT);
        return;
    }
    case Kind::Numeric: {
        // The column's affinity keeps the exact digits where it can.
        const QByteArray s = numberText(c).trimmed();
        sqlite3_bind_text(st, index, s.constData(), int(s.size()), SQLITE_TRANSIENT);
        return;
    }
    case Kind::Blob:
        sqlite3_bind_blob(st, index, c.buffer.data(), c.length, SQLITE_TRANSIENT);
        return;
    case Kind::Ole: {
        size_t size = 0;
        void* data = mdb_ole_read_full(mdb, c.col, &size);
        if (data)
            sqlite3_bind_blob(st, index, data, int(size), SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(st, index);
        free(data);
        return;
    }
    case Kind::Text:
        break;
    }
}

void copyTable(MdbHandle* mdb, MdbCatalogEntry* entry, SqliteWriter& out, const QString& jetPath) {
    TablePtr table(mdb_read_table(entry));
    if (!table)
        unreadable(jetPath, QString("tabela %1").arg(entry->object_name));
    mdb_read_columns(table.get());
    mdb_rewind_table(table.get());

    std::vector<BoundColumn> cols;
    cols.reserve(table->num_cols);
    QByteArray create = "create table " + quoted(entry->object_name) + " (";
    QByteArray insert = "insert into " + quoted(entry->object_name) + " values (";
    for (unsigned i = 0; i < table->num_cols; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        cols.push_back({col, kindOf(col->col_type), std::vector<char>(BindSize), 0});
        create += (i ? ", " : "") + quoted(col->name) + ' ' + declaredType(cols.back().kind);
        insert += i ? ",?" : "?";
    }
    for (unsigned i = 0; i < cols.size(); ++i)
        mdb_bind_column(table.get(), int(i) + 1, cols[i].buffer.data(), &cols[i].length);
    out.exec(create + ')');
    out.prepare(insert + ')');

    while (mdb_fetch_row(table.get())) {
        for (unsigned i = 0; i < cols.size(); ++i)
            bindValue(out.insert(), int(i) + 1, mdb, cols[i], jetPath);
        out.step();
    }
}

bool startsWith(const QByteArray& head, int at, const char* text) {
    return head.mid(at, qsizetype(strlen(text))) == text;
}

} // namespace

UpdateFileFormat updateFileFormat(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return UpdateFileFormat::Unknown;
    const QByteArray head = f.read(32);
    if (startsWith(head, 0, "SQLite format 3"))
        return UpdateFileFormat::SQLite;
    if (startsWith(head, 4, "Standard Jet DB") || startsWith(head, 4, "Standard ACE DB"))
        return UpdateFileFormat::Jet;
    return UpdateFileFormat::Unknown;
}

namespace {
// The working copies in the temporary folder: "zelvor-<pid>-krv.mdb.sqlite".
constexpr char CopyPrefix[] = "zelvor-";

// Copies in the temporary folder outlive the program (it ends at once, without unwinding):
// each new one removes those of processes that are gone. A name without a process id is not
// one of ours.
void removeStaleTemporaryCopies() {
    const auto stamp = [](const QString& name) { return platform::stampOf(name, CopyPrefix); };
    platform::removeEndedScratch(QDir::tempPath(), {QString(CopyPrefix) + "*.sqlite*"}, stamp,
                                 [&stamp](const QString& name) { return stamp(name) == 0; });
}
} // namespace

QString jetWorkingCopyPath(const QString& jetPath) {
    const QFileInfo file(jetPath);
    const QString update = QFileInfo(updatekrv::updateFolder()).canonicalFilePath();
    if (!update.isEmpty() && file.absoluteDir().canonicalPath() == update)
        return jetPath + ".sqlite";
    return QDir::temp().filePath(platform::stampedName(CopyPrefix, file.fileName() + ".sqlite"));
}

void importJet(const QString& jetPath, const QString& sqlitePath) {
    if (updateFileFormat(jetPath) != UpdateFileFormat::Jet)
        throw KrvError(jet_err::NotUpdateFile,
                       "O arquivo " + shown(jetPath) + " não é um banco Access.");

    // The target lives in our own process: text must come out as UTF-8 whatever the
    // environment asks libmdb for.
    qputenv("MDB_ICONV", "UTF-8");
    MdbPtr mdb(mdb_open(QFile::encodeName(jetPath).constData(), MDB_NOFLAGS));
    if (!mdb)
        unreadable(jetPath, "cabeçalho não reconhecido ou arquivo danificado");
    mdb_set_bind_size(mdb.get(), BindSize);
    mdb_set_boolean_fmt_numbers(mdb.get());
    mdb_set_date_fmt(mdb.get(), "%Y-%m-%d %H:%M:%S");
    mdb_set_shortdate_fmt(mdb.get(), "%Y-%m-%d");

    // The system catalog's definition lies on page 2. libmdb undoes the simple page encoding
    // of Jet 4 itself; pages that still do not read as a table definition are encrypted
    // with something it does not know (or the file is damaged).
    const qint64 pageSize = mdb->fmt->pg_size;
    if (QFileInfo(jetPath).size() < 3 * pageSize || mdb_read_pg(mdb.get(), 2) != pageSize)
        unreadable(jetPath, "arquivo truncado");
    const auto* page = mdb->pg_buf;
    if (std::all_of(page, page + pageSize, [](unsigned char b) { return b == 0; }))
        unreadable(jetPath, "catálogo em branco");
    if (page[0] != MDB_PAGE_TABLE || page[1] != 0x01)
        throw KrvError(jet_err::Encrypted,
                       "O arquivo " + shown(jetPath) +
                           " está criptografado e não pode ser lido. Grave-o sem "
                           "criptografia (a senha do banco de dados pode continuar).");
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE))
        unreadable(jetPath, "catálogo ilegível");

    const QString partial = sqlitePath + ".part";
    QFile::remove(partial);
    try {
        {
            SqliteWriter out(partial);
            for (unsigned i = 0; i < mdb->num_catalog; ++i) {
                auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
                if (mdb_is_user_table(entry))
                    copyTable(mdb.get(), entry, out, jetPath);
            }
            out.commit();
        }
        std::error_code ec;
        std::filesystem::rename(QFile::encodeName(partial).constData(),
                                QFile::encodeName(sqlitePath).constData(), ec);
        if (ec)
            throw KrvError(err::FileAccess, "Não foi possível gravar a cópia de trabalho " +
                                                shown(sqlitePath) + ": " +
                                                QString::fromLocal8Bit(ec.message().c_str()));
    } catch (...) {
        QFile::remove(partial);
        throw;
    }
}

QString sqliteUpdateFile(const QString& path) {
    switch (updateFileFormat(path)) {
    case UpdateFileFormat::SQLite:
        return path;
    case UpdateFileFormat::Jet: {
        const QString copy = jetWorkingCopyPath(path);
        if (QFileInfo(copy).absolutePath() == QFileInfo(QDir::tempPath()).absoluteFilePath())
            removeStaleTemporaryCopies();
        importJet(path, copy);
        return copy;
    }
    case UpdateFileFormat::Unknown:
        break;
    }
    if (!QFileInfo::exists(path))
        throw KrvError(err::FileNotFound, "O arquivo " + shown(path) + " não foi encontrado.");
    throw KrvError(jet_err::NotUpdateFile,
                   "O arquivo " + shown(path) +
                       " não é um arquivo de atualização (nem SQLite nem Access).");
}

} // namespace krv::database
