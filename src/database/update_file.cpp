#include "database/update_file.h"

#include "database/jet_import.h"
#include "database/schema_statements.h"

#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>
#include <unordered_map>

namespace krv::database {

namespace {

QString fileText(const QString& path) {
    return "<" + path + ">";
}

// krv_fold(x): foldName of a text, null for null. The update file's queries match names
// through it, so both sides of a comparison fold alike (SQLite's own folding knows A-Z only).
void foldFunction(sqlite3_context* context, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(context);
        return;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const QByteArray folded =
        foldName(QString::fromUtf8(text, sqlite3_value_bytes(argv[0]))).toUtf8();
    sqlite3_result_text(context, folded.constData(), int(folded.size()), SQLITE_TRANSIENT);
}

void registerFunctions(sqlite3* db) {
    sqlite3_create_function_v2(db, "krv_fold", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                               foldFunction, nullptr, nullptr, nullptr);
}

} // namespace

struct UpdateFile::Prepared {
    sqlite3_stmt* stmt;
    QStringList columns;
};

struct UpdateFile::Cache {
    std::unordered_map<QString, Prepared> statements;
    ~Cache() {
        for (auto& entry : statements)
            sqlite3_finalize(entry.second.stmt);
    }
};

// ---- rows ----

int UpdateRows::columnIndex(const QString& name) const {
    for (int i = 0; i < columns_.size(); ++i)
        if (columns_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

UpdateRow UpdateRows::first() const {
    if (empty())
        throw KrvError(3021, "Não há registro atual no arquivo " + fileText(file_) + ".");
    return UpdateRow(this, 0);
}

QVariant UpdateRow::value(int column) const {
    if (index_ < 0 || index_ >= rows_->size())
        throw KrvError(3021, "Não há registro atual no arquivo " + fileText(rows_->file_) + ".");
    if (column < 0 || column >= rows_->columnCount())
        throw KrvError(3265, QString("Campo %1 não existe no resultado (arquivo %2).")
                                 .arg(column)
                                 .arg(fileText(rows_->file_)));
    return rows_->values_[size_t(index_) * rows_->columns_.size() + size_t(column)];
}

bool UpdateRow::has(const QString& name) const {
    return rows_->columnIndex(name) >= 0;
}

QVariant UpdateRow::value(const QString& name) const {
    const int column = rows_->columnIndex(name);
    if (column < 0)
        throw KrvError(3265, "Campo " + name + " não existe no resultado (arquivo " +
                                 fileText(rows_->file_) + ").");
    return value(column);
}

// ---- file ----

UpdateFile::UpdateFile() : cache_(std::make_unique<Cache>()) {}

UpdateFile::~UpdateFile() {
    close();
}

UpdateFile::UpdateFile(UpdateFile&& other) noexcept
    : db_(other.db_), path_(std::move(other.path_)), cache_(std::move(other.cache_)) {
    other.db_ = nullptr;
    other.cache_ = std::make_unique<Cache>();
}

UpdateFile& UpdateFile::operator=(UpdateFile&& other) noexcept {
    if (this != &other) {
        close();
        db_ = other.db_;
        path_ = std::move(other.path_);
        cache_ = std::move(other.cache_);
        other.db_ = nullptr;
        other.cache_ = std::make_unique<Cache>();
    }
    return *this;
}

void UpdateFile::close() {
    if (!db_)
        return;
    cache_ = std::make_unique<Cache>(); // finalizes the statements first
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

void UpdateFile::fail(int number, const QString& what) const {
    const QString reason = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString();
    throw KrvError(number, what + " (arquivo " + fileText(path_) + ")" +
                               (reason.isEmpty() ? QString(".") : ": " + reason));
}

void UpdateFile::requireOpen() const {
    if (!db_)
        throw KrvError(err::NotConnected, "O arquivo de atualização não está aberto.");
}

void UpdateFile::openSqlite(const QString& path, const QString& /*connect*/) {
    close();
    path_ = path;
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        throw KrvError(err::FileNotFound,
                       "Arquivo de atualização " + fileText(path) + " não encontrado.");
    if (!isSqliteFile(path))
        throw KrvError(err::BadFileFormat,
                       "O arquivo " + fileText(path) + " não é um arquivo de atualização.");
    sqlite3* db = nullptr;
    const int rc =
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close_v2(db);
        throw KrvError(err::FileAccess, "Não foi possível abrir o arquivo de atualização " +
                                            fileText(path) + ": " + reason);
    }
    db_ = db;
    sqlite3_busy_timeout(db_, 5000);
    registerFunctions(db_);
    // A damaged file opens fine and fails on its first read: find out now.
    if (sqlite3_exec(db_, "select count(*) from sqlite_master", nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
        const QString reason = QString::fromUtf8(sqlite3_errmsg(db_));
        close();
        throw KrvError(err::BadFileFormat,
                       "O arquivo " + fileText(path) +
                           " não é um arquivo de atualização válido: " + reason);
    }
}

void UpdateFile::createSqlite(const QString& path) {
    close();
    path_ = path;
    if (QFileInfo::exists(path))
        throw KrvError(err::FileAccess, "O arquivo " + fileText(path) + " já existe.");
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const QString reason = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
        sqlite3_close_v2(db);
        throw KrvError(err::FileAccess,
                       "Não foi possível criar o arquivo " + fileText(path) + ": " + reason);
    }
    db_ = db;
    sqlite3_busy_timeout(db_, 5000);
    registerFunctions(db_);
}

UpdateFile::Prepared& UpdateFile::prepare(const QString& sql) const {
    requireOpen();
    auto found = cache_->statements.find(sql);
    if (found != cache_->statements.end())
        return found->second;
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (sqlite3_prepare_v3(db_, text.constData(), int(text.size()), SQLITE_PREPARE_PERSISTENT,
                           &stmt, &tail) != SQLITE_OK)
        fail(err::Database, "Comando inválido: " + sql);
    if (!stmt) // only blanks or a comment
        fail(err::Database, "Comando vazio");
    if (tail && *tail && QByteArray(tail).trimmed() != "" && QByteArray(tail).trimmed() != ";") {
        sqlite3_finalize(stmt);
        throw KrvError(err::Database, "Mais de um comando em: " + sql);
    }
    QStringList columns;
    for (int i = 0, n = sqlite3_column_count(stmt); i < n; ++i)
        columns << QString::fromUtf8(sqlite3_column_name(stmt, i));
    return cache_->statements.emplace(sql, Prepared{stmt, columns}).first->second;
}

namespace {

// Resets the statement whatever way the caller leaves.
struct StatementUse {
    sqlite3_stmt* stmt;
    ~StatementUse() {
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
    }
};

int bind(sqlite3_stmt* stmt, int index, const QVariant& value) {
    if (value.isNull())
        return sqlite3_bind_null(stmt, index);
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return sqlite3_bind_int64(stmt, index, value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return sqlite3_bind_double(stmt, index, value.toDouble());
    case QMetaType::QByteArray: {
        const QByteArray bytes = value.toByteArray();
        return sqlite3_bind_blob(stmt, index, bytes.constData(), int(bytes.size()),
                                 SQLITE_TRANSIENT);
    }
    default: {
        const QByteArray text = value.toString().toUtf8();
        return sqlite3_bind_text(stmt, index, text.constData(), int(text.size()), SQLITE_TRANSIENT);
    }
    }
}

QVariant column(sqlite3_stmt* stmt, int index) {
    switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_INTEGER:
        return QVariant(qlonglong(sqlite3_column_int64(stmt, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(stmt, index));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, index)),
                                   sqlite3_column_bytes(stmt, index)));
    case SQLITE_NULL:
        return QVariant();
    default:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, index)),
                              sqlite3_column_bytes(stmt, index)));
    }
}

} // namespace

UpdateRows UpdateFile::query(const QString& sql, const QVariantList& params) const {
    Prepared& prepared = prepare(sql);
    sqlite3_stmt* stmt = prepared.stmt;
    StatementUse use{stmt};
    if (sqlite3_bind_parameter_count(stmt) != params.size())
        throw KrvError(err::Database, QString("O comando espera %1 parâmetros e recebeu %2: %3")
                                          .arg(sqlite3_bind_parameter_count(stmt))
                                          .arg(params.size())
                                          .arg(sql));
    for (int i = 0; i < params.size(); ++i)
        if (bind(stmt, i + 1, params[i]) != SQLITE_OK)
            fail(err::Database, "Parâmetro inválido em: " + sql);
    UpdateRows rows;
    rows.file_ = path_;
    int count = int(prepared.columns.size());
    for (;;) {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            fail(err::Database, "Falha ao executar: " + sql);
        // A table changed since the statement was prepared: SQLite prepared it again.
        if (sqlite3_column_count(stmt) != count) {
            prepared.columns.clear();
            for (int i = 0, n = sqlite3_column_count(stmt); i < n; ++i)
                prepared.columns << QString::fromUtf8(sqlite3_column_name(stmt, i));
            count = int(prepared.columns.size());
        }
        for (int i = 0; i < count; ++i)
            rows.values_.push_back(column(stmt, i));
    }
    rows.columns_ = prepared.columns;
    return rows;
}

int UpdateFile::execute(const QString& sql, const QVariantList& params) const {
    query(sql, params);
    return sqlite3_changes(db_);
}

void UpdateFile::executeScript(const QString& sql) const {
    requireOpen();
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &message) != SQLITE_OK) {
        const QString reason = QString::fromUtf8(message ? message : "");
        sqlite3_free(message);
        throw KrvError(err::Database,
                       "Falha ao executar comandos (arquivo " + fileText(path_) + "): " + reason);
    }
}

void UpdateFile::begin() const {
    executeScript("begin");
}
void UpdateFile::commit() const {
    executeScript("commit");
}
void UpdateFile::rollback() const {
    executeScript("rollback");
}

UpdateFileTransaction::~UpdateFileTransaction() {
    if (!done_ && file_.isOpen() && !sqlite3_get_autocommit(file_.handle())) {
        try {
            file_.rollback();
        } catch (const KrvError&) {
            // The transaction is gone already; nothing left to undo.
        }
    }
}

void UpdateFileTransaction::commit() {
    file_.commit();
    done_ = true;
}

// ---- opening by content ----

bool isSqliteFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return file.read(16) == QByteArray("SQLite format 3\0", 16);
}

UpdateFile openUpdateFile(const QString& path, const QString& connect) {
    UpdateFile file;
    // An Access file runs on its SQLite working copy; anything else is refused there.
    file.openSqlite(QFileInfo(path).isFile() ? sqliteUpdateFile(path) : path, connect);
    return file;
}

} // namespace krv::database
