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
    if (!c.check.isEmpty() && !isJsonCheck(c.check, c.field))
        refuse(where, "verificação (check)", c.check);
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

QString keyWhere(const ForeignKey& key) {
    return tableWhere(key.table) + ", chave estrangeira <" + key.name + ">";
}

[[noreturn]] void refuseKey(const ForeignKey& key, const QString& why) {
    throw UpdateFileRefused(err::BadFileFormat, kRefused + keyWhere(key) + ": " + why +
                                                    ". Nenhuma alteração foi feita no banco "
                                                    "de dados.");
}

// The pieces of a key that enter its statement.
void checkKeyPieces(const ForeignKey& key) {
    for (const QString& name : QStringList{key.table, key.parent})
        if (!isPlainIdentifier(name))
            refuse(keyWhere(key), "nome de tabela", name);
    if (!isPlainIdentifier(key.name))
        refuse(tableWhere(key.table), "nome de chave estrangeira", key.name);
    if (key.columns.isEmpty() || key.columns.size() != key.parentColumns.size())
        refuse(keyWhere(key), "lista de colunas", key.columns.join(','));
    for (const QString& c : key.columns + key.parentColumns)
        if (!isPlainIdentifier(c))
            refuse(keyWhere(key), "nome de coluna", c);
    for (const QString& a : {key.onDelete, key.onUpdate})
        if (!isReferentialAction(a))
            refuse(keyWhere(key), "ação", a);
}

QStringList foldedList(const QStringList& names) {
    QStringList out;
    for (const QString& n : names)
        out << foldName(n);
    return out;
}

// Whether rows of an index list (ordered by index and position) hold a unique index, or the
// primary key, over exactly columns.
bool hasUniqueIndex(const UpdateRows& rows, const QStringList& columns) {
    const QStringList wanted = foldedList(columns);
    QString current;
    QStringList got;
    bool unique = false;
    const auto matches = [&] { return unique && got == wanted; };
    for (const UpdateRow row : rows) {
        const QString k = foldName(row.text("key_name"));
        if (k != current) {
            if (matches())
                return true;
            current = k;
            got.clear();
            unique = row.text("key_name") == "PRIMARY" ||
                     (row.has("non_unique") && trimBlanks(row.text("non_unique")) == "0");
        }
        got << foldName(row.text("column_name"));
    }
    return matches();
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

bool SchemaSync::fileHas(const QString& table) const {
    return !file_.query("select 1 from sqlite_master where type = 'table' and name = ?", {table})
                .empty();
}

QString SchemaSync::liveName(const QString& table) const {
    return liveTables_.value(foldName(table));
}

// Stored order, except that a table comes after the tables its keys refer to; a table in a
// cycle comes when nothing else can, its keys added after the creates.
QList<int> SchemaSync::parentsFirst(const UpdateRows& tabelas) const {
    const int n = tabelas.size();
    QList<int> order;
    QHash<QString, int> at;
    for (int i = 0; i < n; ++i)
        at.insert(foldName(tabelas[i].text("table")), i);
    std::vector<QSet<int>> parents(static_cast<size_t>(n));
    for (const ForeignKey& key : referenceKeys_) {
        const int c = at.value(foldName(key.table), -1), p = at.value(foldName(key.parent), -1);
        if (c >= 0 && p >= 0 && c != p)
            parents[size_t(c)].insert(p);
    }
    std::vector<char> done(size_t(n), 0);
    while (order.size() < n) {
        bool progressed = false;
        for (int i = 0; i < n; ++i) {
            if (done[size_t(i)])
                continue;
            bool ready = true;
            for (int p : parents[size_t(i)])
                ready = ready && done[size_t(p)];
            if (ready) {
                done[size_t(i)] = 1;
                order << i;
                progressed = true;
            }
        }
        for (int i = 0; !progressed && i < n; ++i)
            if (!done[size_t(i)]) {
                done[size_t(i)] = 1;
                order << i;
                progressed = true;
            }
    }
    return order;
}

QList<SyncStep> SchemaSync::plan() {
    steps_.clear();
    modified_.clear();
    created_.clear();
    inlined_.clear();
    leftOut_.clear();
    liveTables_.clear();
    // Read-only here: one transaction keeps the file's lock instead of taking it per lookup.
    UpdateFileTransaction reading(file_);
    for (const UpdateRow row : file_.query("select [table] from d_tabelas"))
        liveTables_.insert(foldName(row.text(0)), row.text(0));
    // Keys and objects are optional tables: older files and Access files lack them.
    referenceKeys_ = fileHas("estrangeiras")
                         ? foreignKeysFrom(file_.query("select * from estrangeiras order by rowid"))
                         : QList<ForeignKey>();
    liveKeys_ = fileHas("d_estrangeiras")
                    ? foreignKeysFrom(file_.query("select * from d_estrangeiras order by rowid"))
                    : QList<ForeignKey>();
    const UpdateRows tabelas = file_.query(kTabelas);
    for (const int i : parentsFirst(tabelas)) {
        const UpdateRow row = tabelas[i];
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
    AcertaChaves();
    AcertaObjetos();
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
    // Keys whose parent is there already go in with the table; one to itself or to a table
    // still to come waits for the creates.
    QList<ForeignKey> keys;
    QStringList clauses;
    for (const ForeignKey& key : referenceKeys_) {
        if (foldName(key.table) != foldName(t) || foldName(key.parent) == foldName(t) ||
            (liveName(key.parent).isEmpty() && !created_.contains(foldName(key.parent))))
            continue;
        checkKeyPieces(key);
        ForeignKey k = checkKey(key);
        k.table = lowerName(columns.first().table);
        keys << k;
        clauses << k.clause();
    }
    execute(createTableStatement(columns, indexes, table_, conexao_.backslashEscapes(), clauses),
            SyncStep::CreateTable, lowerName(columns.first().table));
    steps_.last().keys = keys;
    created_.insert(foldName(t));
    for (const ForeignKey& k : keys)
        inlined_.insert(foldName(k.table) + '\n' + foldName(k.name));
}

void SchemaSync::AcertaTabela(const QString& t, const UpdateRow& live) {
    const QString engine = liveText(live, "engine");
    // Changing a table's engine rewrites it whole and changes how it behaves: only said.
    if (!table_.engine.isEmpty() && !engine.isEmpty() && !sameText(engine, table_.engine))
        line("Tabela <" + t + ">: motor <" + engine + "> mantido (a referência pede <" +
             table_.engine + ">)");
    // A comment the reference names replaces the live one; none keeps it.
    if (!table_.comment.isEmpty() && live.has("comment") &&
        live.text("comment") != table_.comment) {
        checkTable(t);
        line("Alterando Tabela: <" + t + ">");
        execute(tableCommentStatement(lowerName(live.text("table")), table_.comment,
                                      conexao_.backslashEscapes()),
                SyncStep::Other, lowerName(live.text("table")));
    }
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
    const bool sameType = trimBlanks(l.text("type")).toUpper() == trimBlanks(c.type).toUpper() &&
                          !differs(want.charset, liveText(l, "charset")) &&
                          !differs(want.collation, liveText(l, "collation")) &&
                          !(c.emptyDefault && l.isNull("default"));
    const bool comment = !c.comment.isEmpty() && l.has("comment") && l.text("comment") != c.comment;
    if (sameType && !comment)
        return;
    checkTable(t);
    checkColumn(t, c);
    // Restating a comment rewrites nothing, and a key's columns take it; any other change to
    // them the server refuses whatever the session says.
    if (!sameType || (l.text("null") == "YES") != c.nullable)
        checkNoLiveKey(t, liveTable, l.text("field"));
    ReferenceColumn changed = want;
    const LiveColumn live = liveColumn(conexao_, liveTable, l.text("field"));
    // What the reference does not name the column keeps: its comment, its check (a JSON
    // column's json_valid among them).
    if (changed.comment.isEmpty())
        changed.comment = live.comment;
    if (changed.check.isEmpty())
        changed.check = live.check;
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

void SchemaSync::checkNoLiveKey(const QString& t, const QString& liveTable, const QString& column) {
    const QString table = foldName(liveTable), field = foldName(column);
    for (const ForeignKey& key : liveKeys_) {
        const bool child = foldName(key.table) == table && foldedList(key.columns).contains(field);
        const bool parent =
            foldName(key.parent) == table && foldedList(key.parentColumns).contains(field);
        if (child || parent)
            throw UpdateFileRefused(
                err::BadFileFormat,
                kRefused + tableWhere(t) + ", campo <" + trimBlanks(column) +
                    ">: a chave estrangeira <" + key.name + "> " + key.describe() +
                    " usa o campo, que só mudaria removendo a chave; esta atualização nunca "
                    "remove uma chave. Nenhuma alteração foi feita no banco de dados.");
    }
}

ForeignKey SchemaSync::checkKey(const ForeignKey& key) {
    const auto engineOf = [&](const QString& table) {
        const QString live = liveName(table);
        const UpdateRows rows =
            live.isEmpty() ? file_.query("select * from tabelas where krv_fold([table]) = ?",
                                         {foldName(table)})
                           : file_.query(kDTabela, {foldName(live)});
        return rows.empty() ? QString() : liveText(rows.first(), "engine");
    };
    for (const QString& table : {key.table, key.parent}) {
        const QString engine = engineOf(table);
        if (!engine.isEmpty() && !sameText(engine, "InnoDB"))
            refuseKey(key, "a tabela <" + trimBlanks(table) + "> usa o motor <" + engine +
                               ">, e chaves estrangeiras pedem InnoDB nas duas tabelas");
    }
    // A column as it will be: the reference's where the file has it, else the live one.
    struct Column {
        QString type, collation;
    };
    const auto columnOf = [&](const QString& table, const QString& field) -> Column {
        const UpdateRows ref =
            file_.query("select * from campos where krv_fold([table]) = ? and krv_fold(field) = ?",
                        {foldName(table), foldName(field)});
        const UpdateRows live = file_.query(kDCampo, {foldName(table), foldName(field)});
        if (ref.empty() && live.empty())
            refuseKey(key, "o campo <" + trimBlanks(table) + "." + field + "> não existe");
        if (ref.empty())
            return {live.first().text("type"), liveText(live.first(), "collation")};
        const ReferenceColumn c = ReferenceColumn::fromRow(ref.first());
        QString collation = c.collation;
        if (collation.isEmpty() && c.carriesCharsets && isTextType(c.type)) {
            const UpdateRows t =
                file_.query("select * from tabelas where krv_fold([table]) = ?", {foldName(table)});
            collation = t.empty() ? QString() : liveText(t.first(), "collation");
        }
        if (collation.isEmpty() && !live.empty())
            collation = liveText(live.first(), "collation");
        return {c.type, collation};
    };
    for (qsizetype i = 0; i < key.columns.size(); ++i) {
        const Column c = columnOf(key.table, key.columns[i]);
        const Column p = columnOf(key.parent, key.parentColumns[i]);
        const QString names = "o campo <" + trimBlanks(key.table) + "." + key.columns[i] +
                              "> (<%1>) e o campo <" + trimBlanks(key.parent) + "." +
                              key.parentColumns[i] + "> (<%2>) ";
        if (keyType(c.type) != keyType(p.type))
            refuseKey(key, (names + "têm tipos diferentes").arg(c.type, p.type));
        if (!c.collation.isEmpty() && !p.collation.isEmpty() && !sameText(c.collation, p.collation))
            refuseKey(key, (names + "têm collations diferentes").arg(c.collation, p.collation));
    }
    const QString order = " order by krv_fold(key_name), cast(seq_in_index as integer)";
    const QString parentLive = liveName(key.parent);
    const bool unique =
        hasUniqueIndex(file_.query("select * from indices where krv_fold([table]) = ?" + order,
                                   {foldName(key.parent)}),
                       key.parentColumns) ||
        (!parentLive.isEmpty() &&
         hasUniqueIndex(file_.query("select * from d_indices where krv_fold([table]) = ?" + order,
                                    {foldName(parentLive)}),
                        key.parentColumns));
    if (!unique)
        refuseKey(key, "a tabela <" + trimBlanks(key.parent) + "> não tem índice único sobre <" +
                           key.parentColumns.join(',') + ">");
    ForeignKey k = key;
    k.table = liveName(key.table).isEmpty() ? lowerName(key.table) : liveName(key.table);
    k.parent = parentLive.isEmpty() ? lowerName(key.parent) : parentLive;
    return k;
}

void SchemaSync::AcertaChaves() {
    for (const ForeignKey& key : referenceKeys_)
        if (!inlined_.contains(foldName(key.table) + '\n' + foldName(key.name)))
            piece([&] { AcertaChave(key); });
}

void SchemaSync::AcertaChave(const ForeignKey& key) {
    const QString live = liveName(key.table);
    // A table the plan does not create (no columns in the reference) takes no key either.
    if (live.isEmpty() && !created_.contains(foldName(key.table)))
        return;
    const QString t = trimBlanks(key.table);
    for (const ForeignKey& l : liveKeys_)
        if (l.sameAs(key))
            return;
    for (const ForeignKey& l : liveKeys_)
        if (foldName(l.table) == foldName(key.table) && foldName(l.name) == foldName(key.name)) {
            line("Chave estrangeira <" + t + "-" + key.name + "> difere da referência (" +
                 l.describe() + "): mantida como está");
            return;
        }
    checkKeyPieces(key);
    const ForeignKey k = checkKey(key);
    qint64 orphans = 0;
    if (!live.isEmpty()) {
        const bool parentExists = !liveName(key.parent).isEmpty();
        Recordset count;
        count.Open(orphanCountQuery(k, parentExists), conexao_);
        orphans = count.eof() ? 0 : count.field(0).toLongLong();
        if (orphans > 0) {
            Recordset example;
            example.Open(orphanExampleQuery(k, parentExists), conexao_);
            QStringList values;
            for (int i = 0; !example.eof() && i < example.fieldCount(); ++i)
                values << k.columns.value(i) + "=" + example.text(i);
            const QString why = QString::number(orphans) + " linha(s) de <" + t +
                                "> sem correspondente em <" + trimBlanks(key.parent) +
                                ">, por exemplo <" + values.join(',') + ">";
            if (!leaveOutOrphans_)
                refuseKey(key, why);
            // Never added over them with the checks off: the key is left out, and said.
            line("Chave estrangeira <" + t + "-" + key.name + "> não criada: " + why);
            leftOut_ << key.name + " " + key.describe() + ": " + why;
            return;
        }
    }
    line("Criando Chave Estrangeira: <" + t + "-" + key.name + ">");
    execute(addForeignKeyStatement(k), SyncStep::AddForeignKey, k.table);
    SyncStep& step = steps_.last();
    step.keys = {k};
    step.orphans = orphans;
    step.indexName = k.name;
}

void SchemaSync::AcertaObjetos() {
    if (!fileHas("objetos"))
        return;
    const QList<SchemaObject> live = fileHas("d_objetos")
                                         ? objectsFrom(file_.query("select * from d_objetos"))
                                         : QList<SchemaObject>();
    for (const SchemaObject& o : objectsFrom(file_.query("select * from objetos order by rowid")))
        piece([&] {
            const QString what = objectKindText(o.kind) + " <" + o.name + ">";
            for (const SchemaObject& l : live) {
                if (foldName(l.name) != foldName(o.name) ||
                    (l.kind == "TRIGGER") != (o.kind == "TRIGGER"))
                    continue;
                // Someone may rely on the live one: never replaced nor dropped.
                if (l.kind != o.kind ||
                    normalDefinition(l.definition) != normalDefinition(o.definition) ||
                    foldName(l.table) != foldName(o.table) || l.timing != o.timing ||
                    l.event != o.event)
                    line(what + " difere da referência: mantido como está");
                return;
            }
            if (o.kind == "VIEW" && !liveName(o.name).isEmpty()) {
                line(what + ": o nome já é de uma tabela, mantida como está");
                return;
            }
            const QString problem = objectProblem(o);
            if (!problem.isEmpty())
                refuse(what, "objeto", problem);
            if (o.kind == "TRIGGER" && liveName(o.table).isEmpty() &&
                !created_.contains(foldName(o.table)))
                return; // its table is not there to take it
            line("Criando " + what);
            SchemaObject made = o;
            if (o.kind == "TRIGGER" && !liveName(o.table).isEmpty())
                made.table = liveName(o.table);
            execute(createObjectStatement(made), SyncStep::CreateObject,
                    o.kind == "TRIGGER" ? lowerName(made.table) : o.name);
            steps_.last().object = made;
            steps_.last().indexName = o.name;
        });
}

} // namespace krv::database
