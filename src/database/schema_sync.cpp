#include "database/schema_sync.h"

#include "database/connection.h"
#include "database/live_catalogue.h"
#include "database/schema_statements.h"
#include "database/statement_check.h"
#include "database/update_file.h"

#include <utility>

namespace krv::database {

namespace {

// Every name is matched through krv_fold, the update file's side of foldName: the two sides
// fold alike, whatever letters the names hold.
const QString kTabelas = "select * from tabelas order by rowid";
const QString kDTabela = "select * from d_tabelas where krv_fold([table]) = ?";
const QString kCampos = "select * from campos where krv_fold([table]) = ? order by rowid";
const QString kDCampo =
    "select * from d_campos where krv_fold([table]) = ? and krv_fold(field) = ?";
const QString kChaves = "select key_name from indices where krv_fold([table]) = ? "
                        "group by krv_fold(key_name)";
const QString kColunas = "select * from indices where krv_fold([table]) = ? and krv_fold(key_name) "
                         "= ? order by cast(seq_in_index as integer)";
const QString kDIndice =
    "select * from d_indices where krv_fold([table]) = ? and krv_fold(key_name) = ?";
const QString kDIndiceColuna =
    "select * from d_indices where krv_fold([table]) = ? and krv_fold(key_name) = ? and "
    "krv_fold(column_name) = ? and seq_in_index = ?";

const QString kRefused = "Arquivo de atualização recusado: ";

// The refusal of the whole file, before the first change.
[[noreturn]] void refuse(const QString& where, const QString& what, const QString& value) {
    throw UpdateFileRefused(err::BadFileFormat,
                            kRefused + where + ", " + what + " inválido: <" + value +
                                ">. Nenhuma alteração foi feita no banco de dados.");
}

QString tableWhere(const QString& t) {
    return "tabela <" + t + ">";
}

void checkTable(const QString& t) {
    if (!isPlainIdentifier(t))
        refuse(tableWhere(t), "nome de tabela", t);
}

// The pieces of a column that enter every statement it is part of; auto is checked where
// it is used.
void checkColumn(const QString& t, const ReferenceColumn& c) {
    checkTable(c.table);
    const QString where = tableWhere(t) + ", campo <" + c.field + ">";
    if (!isPlainIdentifier(c.field))
        refuse(where, "nome de campo", c.field);
    if (!isColumnType(c.type))
        refuse(where, "tipo", c.type);
    if (!isColumnAttributes(c.extra))
        refuse(where, "atributo (extra)", c.extra);
}

void checkAuto(const QString& t, const ReferenceColumn& c) {
    if (!isColumnAttributes(c.autoText))
        refuse(tableWhere(t) + ", campo <" + c.field + ">", "atributo (auto)", c.autoText);
}

QStringList indexColumns(const QString& t, const QString& k, const UpdateRows& rows) {
    if (!isPlainIdentifier(k))
        refuse(tableWhere(t), "nome de índice", k);
    QStringList columns;
    for (const UpdateRow row : rows) {
        const QString column = row.text("column_name");
        if (!isPlainIdentifier(column))
            refuse(tableWhere(t) + ", índice <" + k + ">", "nome de coluna", column);
        columns << column;
    }
    return columns;
}

// A reference index other than the primary key is unique when the file says non_unique 0;
// a file without that column has plain indexes only.
bool referenceUnique(const QString& k, const UpdateRows& rows) {
    return k != "PRIMARY" && !rows.empty() && rows.columnIndex("non_unique") >= 0 &&
           trimBlanks(rows.first().text("non_unique")) == "0";
}

} // namespace

void prepareLookups(const UpdateFile& file) {
    file.executeScript(
        "create index if not exists zv_campos_nome on campos (krv_fold([table]));"
        "create index if not exists zv_indices_nome on indices "
        "(krv_fold([table]), krv_fold(key_name));"
        "create index if not exists zv_d_tabelas_nome on d_tabelas (krv_fold([table]));"
        "create index if not exists zv_d_campos_nome on d_campos "
        "(krv_fold([table]), krv_fold(field));"
        "create index if not exists zv_d_indices_nome on d_indices "
        "(krv_fold([table]), krv_fold(key_name), krv_fold(column_name));");
}

SchemaSync::SchemaSync(const UpdateFile& file, Connection& conexao, SyncView view)
    : file_(file), conexao_(conexao), view_(std::move(view)) {}

void SchemaSync::status(const QString& text) {
    steps_ << SyncStep{SyncStep::Status, text};
}

void SchemaSync::execute(const QString& sql, SyncStep::Change change, const QString& table) {
    SyncStep step{SyncStep::Statement, sql};
    step.change = change;
    step.table = table;
    steps_ << step;
}

void SchemaSync::line(const QString& text) {
    steps_ << SyncStep{SyncStep::Line, text};
}

void SchemaSync::run() {
    apply(plan());
}

void SchemaSync::piece(const std::function<void()>& work) {
    if (!collectRefusals_)
        return work();
    const qsizetype mark = steps_.size();
    try {
        work();
    } catch (const UpdateFileRefused& e) {
        steps_.resize(mark);
        steps_ << SyncStep{SyncStep::Refusal, e.description()};
    }
}

void SchemaSync::apply(const QList<SyncStep>& steps,
                       const std::function<void(const SyncStep&)>& execute) {
    for (const SyncStep& step : steps)
        if (step.kind == SyncStep::Refusal)
            throw KrvError(err::BadFileFormat, step.text);
    for (const SyncStep& step : steps) {
        switch (step.kind) {
        case SyncStep::Status:
            if (view_.status)
                view_.status(step.text);
            break;
        case SyncStep::Line:
            if (view_.line)
                view_.line(step.text);
            break;
        case SyncStep::Statement:
            if (view_.executed)
                view_.executed(step.text + step.clause);
            if (execute)
                execute(step);
            else
                conexao_.Execute(step.text + step.clause);
            break;
        case SyncStep::Refusal:
            break;
        }
    }
}

QList<SyncStep> SchemaSync::plan() {
    steps_.clear();
    modified_.clear();
    // Read-only here: one transaction keeps the file's lock instead of taking it per lookup.
    UpdateFileTransaction reading(file_);
    const UpdateRows tabelas = file_.query(kTabelas);
    for (const UpdateRow row : tabelas) {
        const QString t = row.text("table");
        const UpdateRows rsDTabela = file_.query(kDTabela, {foldName(t)});
        status("Verificando " + t);
        if (rsDTabela.empty()) {
            piece([&] { CriaTabela(t); });
            continue;
        }
        const QString live = rsDTabela.first().text("table");
        if (foldName(live) != foldName(t)) {
            piece([&] { CriaTabela(t); });
        } else {
            AcertaCampos(t, live);
            AcertaIndices(t, live);
        }
    }
    return std::exchange(steps_, {});
}

void SchemaSync::CriaTabela(const QString& t) {
    QList<ReferenceColumn> columns;
    for (const UpdateRow row : file_.query(kCampos, {foldName(t)})) {
        columns << ReferenceColumn::fromRow(row);
        checkColumn(t, columns.last());
    }
    if (columns.isEmpty()) {
        // Without columns there is no statement to send; the table waits for a sound file.
        line("Tabela <" + t + "> sem campos na referência: não criada");
        return;
    }
    line("Criando Tabela <" + t + ">");
    QList<ReferenceIndex> indexes;
    for (const UpdateRow key : file_.query(kChaves, {foldName(t)})) {
        const QString k = key.text("key_name");
        const UpdateRows rows = file_.query(kColunas, {foldName(t), foldName(k)});
        indexes << ReferenceIndex{k, indexColumns(t, k, rows), referenceUnique(k, rows)};
    }
    execute(createTableStatement(columns, indexes, conexao_.backslashEscapes()),
            SyncStep::CreateTable, lowerName(columns.first().table));
}

void SchemaSync::AcertaCampos(const QString& t, const QString& liveTable) {
    for (const UpdateRow row : file_.query(kCampos, {foldName(t)}))
        piece([&] { AcertaCampo(t, liveTable, row); });
}

void SchemaSync::AcertaCampo(const QString& t, const QString& liveTable, const UpdateRow& row) {
    const ReferenceColumn c = ReferenceColumn::fromRow(row);
    const UpdateRows rsDCampo = file_.query(kDCampo, {foldName(liveTable), foldName(c.field)});
    if (rsDCampo.empty()) {
        checkTable(t);
        checkColumn(t, c);
        checkAuto(t, c);
        line("Criando Campo: <" + t + "-" + c.field + ">");
        execute(addColumnStatement(t, c, conexao_.backslashEscapes()), SyncStep::AddColumn,
                trimBlanks(t));
        return;
    }
    const UpdateRow l = rsDCampo.first();
    // Only the type: a key marker that differs is the index comparison's business, and a
    // modify sent for it would rewrite the column for nothing.
    if (trimBlanks(l.text("type")).toUpper() == trimBlanks(c.type).toUpper())
        return;
    checkTable(t);
    checkColumn(t, c);
    ReferenceColumn changed = c;
    const LiveColumn live = liveColumn(conexao_, liveTable, l.text("field"));
    changed.type = keptCharsetType(c.type, live.charset, live.collation);
    line("Alterando Campo: <" + t + "-" + c.field + ">");
    execute(modifyColumnStatement(t, changed, conexao_.backslashEscapes()), SyncStep::ModifyColumn,
            trimBlanks(t));
    SyncStep& step = steps_.last();
    step.column = trimBlanks(l.text("field"));
    step.liveType = trimBlanks(l.text("type"));
    step.newType = trimBlanks(changed.type);
    step.newNullable = c.nullable;
    modified_.insert(foldName(liveTable) + '.' + foldName(c.field));
}

void SchemaSync::AcertaIndices(const QString& t, const QString& liveTable) {
    const QString n = lowerName(liveTable);
    for (const UpdateRow key : file_.query(kChaves, {foldName(t)}))
        piece([&] { AcertaIndice(t, n, key.text("key_name")); });
}

void SchemaSync::AcertaIndice(const QString& t, const QString& n, const QString& k) {
    const UpdateRows rsDIndice = file_.query(kDIndice, {foldName(n), foldName(k)});
    if (rsDIndice.empty()) {
        line("Criando Índice: <" + t + "-" + k + ">");
        IncluiIndice(t, n, k);
        return;
    }
    const UpdateRows rsColunas = file_.query(kColunas, {foldName(t), foldName(k)});
    // A live index that lacks the reference's uniqueness is rebuilt too: left alone, it
    // would keep the table weaker than the reference on every run.
    bool equal =
        !referenceUnique(k, rsColunas) || trimBlanks(rsDIndice.first().text("non_unique")) == "0";
    for (const UpdateRow x : rsColunas) {
        if (!equal)
            break;
        const QVariant seq = x.value("seq_in_index");
        if (file_
                .query(kDIndiceColuna, {foldName(n), foldName(k), foldName(x.text("column_name")),
                                        seq.toLongLong()})
                .empty()) {
            equal = false;
            break;
        }
    }
    if (equal)
        return;
    checkTable(t);
    if (!isPlainIdentifier(k))
        refuse(tableWhere(t), "nome de índice", k);
    line("Alterando Índice: <" + t + "-" + k + ">");
    execute(dropIndexStatement(n, k), SyncStep::DropIndex, n);
    steps_.last().indexName = k;
    IncluiIndice(t, n, k);
}

void SchemaSync::IncluiIndice(const QString& t, const QString& n, const QString& k) {
    checkTable(t);
    const UpdateRows rows = file_.query(kColunas, {foldName(t), foldName(k)});
    const ReferenceIndex index{k, indexColumns(t, k, rows), referenceUnique(k, rows)};
    // Over a column the plan converts, the values to judge are the converted ones: the value
    // check does that before the first change.
    bool converted = false;
    for (const QString& column : index.columns)
        converted = converted || modified_.contains(foldName(n) + '.' + foldName(column));
    if (index.unique && !converted)
        checkNoDuplicates(t, n, index);
    execute(addIndexStatement(n, index), SyncStep::AddIndex, n);
    SyncStep& step = steps_.last();
    step.indexName = k;
    step.indexColumns = index.columns;
    step.unique = index.unique || k == "PRIMARY";
}

void SchemaSync::checkNoDuplicates(const QString& t, const QString& n,
                                   const ReferenceIndex& index) {
    // A column the run is still to add holds no values yet; the server judges that case.
    for (const QString& column : index.columns)
        if (file_.query(kDCampo, {foldName(n), foldName(column)}).empty())
            return;
    Recordset rs;
    rs.Open(duplicateQuery(n, index.columns), conexao_);
    if (rs.eof())
        return;
    QStringList values;
    for (int i = 0; i < rs.fieldCount(); ++i)
        values << rs.text(i);
    throw UpdateFileRefused(err::Database,
                            kRefused + "tabela <" + t + ">, índice único <" + index.keyName +
                                ">: as colunas <" + index.columns.join(',') +
                                "> já têm valores repetidos, por exemplo <" + values.join(',') +
                                ">. Nenhuma alteração foi feita no banco de dados.");
}

} // namespace krv::database
