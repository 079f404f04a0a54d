#pragma once
// The update file krv.mdb: an SQLite database with the update's identity, the reference
// structure and the snapshot of the live structure. Queries take bound parameters; every
// failure is a KrvError naming the file.
#include "platform/krv_error.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <algorithm>
#include <memory>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace krv::database {

// The connect string update files are opened with. Its password protected the original
// file format; an SQLite file ignores it.
inline const QString kUpdateFileConnect = QStringLiteral(";pwd=QTNXBVLM47");

class UpdateRows;

// One row of a query result. Columns by position (0-based) or by name, the name's case
// not mattering. A null value reads as empty text.
class UpdateRow {
public:
    UpdateRow(const UpdateRows* rows, int index) : rows_(rows), index_(index) {}
    QVariant value(int column) const;
    QVariant value(const QString& name) const;
    QString text(int column) const { return value(column).toString(); }
    QString text(const QString& name) const { return value(name).toString(); }
    bool isNull(const QString& name) const { return value(name).isNull(); }
    // Whether the result has the column: optional columns of the update file's tables.
    bool has(const QString& name) const;

private:
    const UpdateRows* rows_;
    int index_;
};

// The whole result of one query, read at once, rows in the order the engine returned them.
class UpdateRows {
public:
    int columnCount() const { return int(columns_.size()); }
    QString columnName(int column) const { return columns_.value(column); }
    // -1 when the result has no such column.
    int columnIndex(const QString& name) const;
    int size() const { return int(values_.size() / std::max<size_t>(columns_.size(), 1)); }
    bool empty() const { return values_.empty(); }
    UpdateRow operator[](int row) const { return UpdateRow(this, row); }
    // Throws "no current record" on an empty result.
    UpdateRow first() const;

    class const_iterator {
    public:
        const_iterator(const UpdateRows* rows, int index) : rows_(rows), index_(index) {}
        UpdateRow operator*() const { return UpdateRow(rows_, index_); }
        const_iterator& operator++() {
            ++index_;
            return *this;
        }
        bool operator!=(const const_iterator& other) const { return index_ != other.index_; }

    private:
        const UpdateRows* rows_;
        int index_;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, size()); }

private:
    friend class UpdateFile;
    friend class UpdateRow;
    QStringList columns_;
    std::vector<QVariant> values_; // row-major
    QString file_;                 // for error texts
};

// An open update file. Move-only; closes on destruction.
class UpdateFile {
public:
    UpdateFile();
    ~UpdateFile();
    UpdateFile(UpdateFile&& other) noexcept;
    UpdateFile& operator=(UpdateFile&& other) noexcept;
    UpdateFile(const UpdateFile&) = delete;
    UpdateFile& operator=(const UpdateFile&) = delete;

    // Opens an existing SQLite file at path for reading and writing. connect is the DAO
    // connect string (";pwd=..."); it is accepted and has no effect. Throws KrvError
    // (FileNotFound, BadFileFormat or FileAccess) naming the file.
    void openSqlite(const QString& path, const QString& connect = kUpdateFileConnect);
    // Creates a new empty SQLite file (the maker's tool and the tests); fails when it exists.
    void createSqlite(const QString& path);
    bool isOpen() const { return db_ != nullptr; }
    void close();
    const QString& path() const { return path_; }

    // Runs a query; parameters bind to the "?" placeholders in order. Queries may call
    // krv_fold(text), the name folding of foldName (schema_statements.h). Text values are
    // bound as text, integers as integers, null QVariants as null.
    UpdateRows query(const QString& sql, const QVariantList& params = {}) const;
    // Runs one statement that returns no rows; returns the number of rows it changed.
    int execute(const QString& sql, const QVariantList& params = {}) const;
    // Runs several statements separated by ";" without parameters.
    void executeScript(const QString& sql) const;

    void begin() const;
    void commit() const;
    void rollback() const;

    // The raw handle, for code that needs SQLite itself.
    sqlite3* handle() const { return db_; }

private:
    struct Cache;
    [[noreturn]] void fail(int number, const QString& what) const;
    void requireOpen() const;
    // The cached statement for sql, with its result column names.
    struct Prepared;
    Prepared& prepare(const QString& sql) const;

    sqlite3* db_ = nullptr;
    QString path_;
    std::unique_ptr<Cache> cache_; // prepared statements by text
};

// Begins a transaction; rolls it back on destruction unless commit() was called.
class UpdateFileTransaction {
public:
    explicit UpdateFileTransaction(const UpdateFile& file) : file_(file) { file_.begin(); }
    ~UpdateFileTransaction();
    void commit();
    UpdateFileTransaction(const UpdateFileTransaction&) = delete;
    UpdateFileTransaction& operator=(const UpdateFileTransaction&) = delete;

private:
    const UpdateFile& file_;
    bool done_ = false;
};

// Opens the update file at path by its content, the one entry point the runs use. An
// SQLite file is opened as it is, an Access file through its working SQLite copy (see
// jet_import.h); anything else is rejected as "not an update file".
// Throws KrvError naming the file.
UpdateFile openUpdateFile(const QString& path, const QString& connect = kUpdateFileConnect);

// True when the file at path starts with the SQLite header.
bool isSqliteFile(const QString& path);

} // namespace krv::database
