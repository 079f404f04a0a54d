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

// An engine, character set or collation name, when given.
void checkOption(const QString& where, const QString& what, const QString& value) {
    if (!value.isEmpty() && !isOptionName(value))
        refuse(where, what, value);
}

void checkTableOptions(const QString& t, const ReferenceTable& table) {
    checkOption(tableWhere(t), "motor", table.engine);
    checkOption(tableWhere(t), "conjunto de caracteres", table.charset);
    checkOption(tableWhere(t), "collation", table.collation);
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
    checkOption(where, "conjunto de caracteres", c.charset);
    checkOption(where, "collation", c.collation);
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

// An index column's prefix length, 0 for the whole column; a file without the column has
// whole columns only.
int prefixOf(const UpdateRow& row) {
    return row.has("sub_part") ? trimBlanks(row.text("sub_part")).toInt() : 0;
}

// An index's kind in upper case, empty when the file does not give it.
QString kindOf(const UpdateRows& rows) {
    if (rows.empty() || rows.columnIndex("index_type") < 0)
        return {};
    return trimBlanks(rows.first().text("index_type")).toUpper();
}

// The reference index k of t from its rows in order, every piece checked.
ReferenceIndex referenceIndex(const QString& t, const QString& k, const UpdateRows& rows) {
    ReferenceIndex index{k, indexColumns(t, k, rows), referenceUnique(k, rows), {}, kindOf(rows)};
    const QString where = tableWhere(t) + ", índice <" + k + ">";
    if (!index.kind.isEmpty() && !isIndexKind(index.kind))
        refuse(where, "tipo de índice", trimBlanks(rows.first().text("index_type")));
    for (const UpdateRow row : rows) {
        const QString prefix = row.has("sub_part") ? trimBlanks(row.text("sub_part")) : QString();
        if (!prefix.isEmpty() && !isPrefixLength(prefix))
            refuse(where, "tamanho de prefixo", prefix);
        index.prefixes << prefix.toInt();
    }
    return index;
}

bool sameText(const QString& a, const QString& b) {
    return trimBlanks(a).compare(trimBlanks(b), Qt::CaseInsensitive) == 0;
}

// A live value of an optional snapshot column, empty when the row lacks it.
QString liveText(const UpdateRow& row, const QString& name) {
    return row.has(name) ? trimBlanks(row.text(name)) : QString();
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
        table_ = ReferenceTable::fromRow(row);
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
            liveEngine_ = liveText(rsDTabela.first(), "engine");
            piece([&] { AcertaTabela(t, rsDTabela.first()); });
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
    checkTableOptions(t, table_);
    line("Criando Tabela <" + t + ">");
    QList<ReferenceIndex> indexes;
    for (const UpdateRow key : file_.query(kChaves, {foldName(t)})) {
        const QString k = key.text("key_name");
        indexes << referenceIndex(t, k, file_.query(kColunas, {foldName(t), foldName(k)}));
    }
    execute(createTableStatement(columns, indexes, table_, conexao_.backslashEscapes()),
            SyncStep::CreateTable, lowerName(columns.first().table));
}

void SchemaSync::AcertaTabela(const QString& t, const UpdateRow& live) {
    const QString engine = liveText(live, "engine");
    // Changing a table's engine rewrites it whole and changes how it behaves: only said.
    if (!table_.engine.isEmpty() && !engine.isEmpty() && !sameText(engine, table_.engine))
        line("Tabela <" + t + ">: motor <" + engine + "> mantido (a referência pede <" +
             table_.engine + ">)");
    const QString charset = liveText(live, "charset"), collation = liveText(live, "collation");
    const bool differs =
        (!table_.charset.isEmpty() && !charset.isEmpty() && !sameText(charset, table_.charset)) ||
        (!table_.collation.isEmpty() && !collation.isEmpty() &&
         !sameText(collation, table_.collation));
    if (!differs)
        return;
    checkTable(t);
    checkTableOptions(t, table_);
    // Only the default of columns to come: columns that follow it are compared one by one.
    const QString n = lowerName(live.text("table"));
    line("Alterando Tabela: <" + t + ">");
    execute(tableCharsetStatement(n, table_), SyncStep::Other, n);
}

ReferenceColumn SchemaSync::withTableCharset(const ReferenceColumn& c) const {
    if (!c.carriesCharsets || !isTextType(c.type) || !c.charset.isEmpty() || !c.collation.isEmpty())
        return c;
    ReferenceColumn out = c;
    out.charset = table_.charset;
    out.collation = table_.collation;
    return out;
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
        // A column that follows its table's character set needs none named: the table's own
        // was set to the reference's first.
        execute(addColumnStatement(t, c, conexao_.backslashEscapes()), SyncStep::AddColumn,
                trimBlanks(t));
        return;
    }
    const UpdateRow l = rsDCampo.first();
    const ReferenceColumn want = withTableCharset(c);
    // The type, the character set and collation where the file gives them, and an empty
    // default the live column lacks. A key marker that differs is the index comparison's
    // business, and a modify sent for it would rewrite the column for nothing.
    const auto differs = [](const QString& wanted, const QString& live) {
        return !wanted.isEmpty() && !live.isEmpty() && !sameText(wanted, live);
    };
    if (trimBlanks(l.text("type")).toUpper() == trimBlanks(c.type).toUpper() &&
        !differs(want.charset, liveText(l, "charset")) &&
        !differs(want.collation, liveText(l, "collation")) &&
        !(c.emptyDefault && l.isNull("default")))
        return;
    checkTable(t);
    checkColumn(t, c);
    ReferenceColumn changed = want;
    const LiveColumn live = liveColumn(conexao_, liveTable, l.text("field"));
    // The reference's own character set and collation, else the live column's: a column
    // keeps them instead of taking its table's.
    if (want.charset.isEmpty() && want.collation.isEmpty())
        changed.type = keptCharsetType(c.type, live.charset, live.collation);
    else
        changed.type = keptCharsetType(c.type, want.charset, want.collation);
    changed.charset.clear();
    changed.collation.clear();
    // An empty default the reference does not name stays: inserts that leave the column out
    // rely on it.
    if (changed.defaultValue.isEmpty() && isEmptyTextDefault(l.value("default")) &&
        isTextType(changed.type))
        changed.emptyDefault = true;
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
    // would keep the table weaker than the reference on every run. So is one of another
    // kind, where the file gives kinds.
    const QString kind = kindOf(rsColunas);
    bool equal = (!referenceUnique(k, rsColunas) ||
                  trimBlanks(rsDIndice.first().text("non_unique")) == "0") &&
                 (kind.isEmpty() || !rsDIndice.first().has("index_type") ||
                  sameText(kind, rsDIndice.first().text("index_type")));
    for (const UpdateRow x : rsColunas) {
        if (!equal)
            break;
        const QVariant seq = x.value("seq_in_index");
        const UpdateRows liveRows =
            file_.query(kDIndiceColuna, {foldName(n), foldName(k), foldName(x.text("column_name")),
                                         seq.toLongLong()});
        // A prefix counts where the file gives prefixes.
        equal =
            !liveRows.empty() && (!x.has("sub_part") || prefixOf(x) == prefixOf(liveRows.first()));
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
    const ReferenceIndex index =
        referenceIndex(t, k, file_.query(kColunas, {foldName(t), foldName(k)}));
    // Over a column the plan converts, the values to judge are the converted ones: the value
    // check does that before the first change.
    bool converted = false;
    for (const QString& column : index.columns)
        converted = converted || modified_.contains(foldName(n) + '.' + foldName(column));
    if (index.unique && !converted)
        checkNoDuplicates(t, n, index);
    execute(addIndexStatement(n, index, liveEngine_), SyncStep::AddIndex, n);
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
    rs.Open(duplicateQuery(n, index.columns, index.prefixes), conexao_);
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
