#include "database/schema_sync.h"

#include "database/connection.h"
#include "database/schema_statements.h"
#include "database/update_file.h"

namespace krv::database {

namespace {

// The update file's engine compared text without regard to case; every comparison says so.
const QString kTabelas = "select * from tabelas order by rowid";
const QString kDTabela = "select * from d_tabelas where [table] = ? collate nocase";
const QString kCampos =
    "select * from campos where lower(trim([table])) = ? collate nocase order by rowid";
const QString kDCampo = "select * from d_campos where lower(trim([table])) = ? collate nocase "
                        "and upper(trim(field)) = ? collate nocase";
const QString kChaves = "select key_name from indices where lower(trim([table])) = ? collate "
                        "nocase group by key_name collate nocase";
const QString kColunas = "select * from indices where lower(trim([table])) = ? collate nocase "
                         "and key_name = ? collate nocase order by cast(seq_in_index as integer)";
const QString kDIndice = "select * from d_indices where lower(trim([table])) = ? collate nocase "
                         "and key_name = ? collate nocase";
const QString kDIndiceColuna =
    "select * from d_indices where lower(trim([table])) = ? collate nocase "
    "and key_name = ? collate nocase and column_name = ? collate nocase and seq_in_index = ?";

QStringList indexColumns(const UpdateRows& rows) {
    QStringList columns;
    for (const UpdateRow row : rows)
        columns << row.text("column_name");
    return columns;
}

} // namespace

void prepareLookups(const UpdateFile& file) {
    file.executeScript(
        "create index if not exists zv_campos_busca on campos "
        "(lower(trim([table])) collate nocase);"
        "create index if not exists zv_indices_busca on indices "
        "(lower(trim([table])) collate nocase, key_name collate nocase);"
        "create index if not exists zv_d_tabelas_busca on d_tabelas ([table] collate nocase);"
        "create index if not exists zv_d_campos_busca on d_campos "
        "(lower(trim([table])) collate nocase, upper(trim(field)) collate nocase);"
        "create index if not exists zv_d_indices_busca on d_indices "
        "(lower(trim([table])) collate nocase, key_name collate nocase, "
        "column_name collate nocase);");
}

SchemaSync::SchemaSync(const UpdateFile& file, Connection& conexao, SyncView view)
    : file_(file), conexao_(conexao), view_(std::move(view)) {}

void SchemaSync::execute(const QString& sql) {
    if (view_.executed)
        view_.executed(sql);
    conexao_.Execute(sql);
}

void SchemaSync::line(const QString& text) {
    if (view_.line)
        view_.line(text);
}

void SchemaSync::run() {
    // Read-only here: one transaction keeps the file's lock instead of taking it per lookup.
    UpdateFileTransaction reading(file_);
    const UpdateRows tabelas = file_.query(kTabelas);
    for (const UpdateRow row : tabelas) {
        const QString t = row.text("table");
        const UpdateRows rsDTabela = file_.query(kDTabela, {foldName(t)});
        if (view_.status)
            view_.status("Verificando " + t);
        if (rsDTabela.empty()) {
            CriaTabela(t);
            continue;
        }
        const QString live = rsDTabela.first().text("table");
        if (foldName(live) != foldName(t)) {
            CriaTabela(t);
        } else {
            AcertaCampos(t, live);
            AcertaIndices(t, live);
        }
    }
}

void SchemaSync::CriaTabela(const QString& t) {
    QList<ReferenceColumn> columns;
    for (const UpdateRow row : file_.query(kCampos, {foldName(t)}))
        columns << ReferenceColumn::fromRow(row);
    if (columns.isEmpty()) {
        // Without columns there is no statement to send; the table waits for a sound file.
        line("Tabela <" + t + "> sem campos na referência: não criada");
        return;
    }
    line("Criando Tabela <" + t + ">");
    QList<ReferenceIndex> indexes;
    for (const UpdateRow key : file_.query(kChaves, {foldName(t)})) {
        const QString k = key.text("key_name");
        indexes << ReferenceIndex{k, indexColumns(file_.query(kColunas, {foldName(t), k}))};
    }
    execute(createTableStatement(columns, indexes));
}

void SchemaSync::AcertaCampos(const QString& t, const QString& liveTable) {
    for (const UpdateRow row : file_.query(kCampos, {foldName(t)})) {
        const ReferenceColumn c = ReferenceColumn::fromRow(row);
        const UpdateRows rsDCampo =
            file_.query(kDCampo, {foldName(liveTable), trimBlanks(c.field).toUpper()});
        if (rsDCampo.empty()) {
            line("Criando Campo: <" + t + "-" + c.field + ">");
            execute(addColumnStatement(t, c));
            continue;
        }
        const UpdateRow l = rsDCampo.first();
        const bool typeDiffers =
            trimBlanks(l.text("type")).toUpper() != trimBlanks(c.type).toUpper();
        const bool keyDiffers = trimBlanks(l.text("key")).toUpper() != trimBlanks(c.key).toUpper();
        if (typeDiffers || keyDiffers) {
            line("Alterando Campo: <" + t + "-" + c.field + ">");
            execute(modifyColumnStatement(t, c));
        }
    }
}

void SchemaSync::AcertaIndices(const QString& t, const QString& liveTable) {
    const QString n = foldName(liveTable);
    for (const UpdateRow key : file_.query(kChaves, {foldName(t)})) {
        const QString k = key.text("key_name");
        if (file_.query(kDIndice, {n, k}).empty()) {
            line("Criando Índice: <" + t + "-" + k + ">");
            IncluiIndice(t, n, k);
            continue;
        }
        bool equal = true;
        for (const UpdateRow x : file_.query(kColunas, {foldName(t), k})) {
            const QVariant seq = x.value("seq_in_index");
            if (file_.query(kDIndiceColuna, {n, k, x.text("column_name"), seq.toLongLong()})
                    .empty()) {
                equal = false;
                break;
            }
        }
        if (equal)
            continue;
        line("Alterando Índice: <" + t + "-" + k + ">");
        execute(dropIndexStatement(n, k));
        IncluiIndice(t, n, k);
    }
}

void SchemaSync::IncluiIndice(const QString& t, const QString& n, const QString& k) {
    execute(addIndexStatement(
        n, ReferenceIndex{k, indexColumns(file_.query(kColunas, {foldName(t), k}))}));
}

} // namespace krv::database
