#pragma once
// The comparison of the reference structure in the update file with the snapshot of the
// live structure, and the statements that add what is missing or different. Nothing live
// is ever removed except an index that is rebuilt.
//
// The work is planned whole first, with every piece of the update file that enters a
// statement checked, and only then applied: a file with one bad piece changes nothing.
#include "database/foreign_keys.h"
#include "database/schema_objects.h"
#include "database/schema_statements.h"
#include "platform/krv_error.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>

namespace krv::database {

class Connection;
class UpdateFile;
class UpdateRow;

// What the comparison shows and does. Every member may be empty.
struct SyncView {
    std::function<void(const QString&)> status;   // "Verificando " + table (yields)
    std::function<void(const QString&)> line;     // a progress line (scrolls, yields)
    std::function<void(const QString&)> executed; // a statement about to run on the server
};

// One thing the run shows or does, in the order the comparison meets it.
struct SyncStep {
    // Refusal: only when refusals are collected; the text is the refusal's message.
    enum Kind { Status, Line, Statement, Refusal };
    SyncStep(Kind k = Status, QString t = {}) : kind(k), text(std::move(t)) {}
    Kind kind;
    QString text;

    // Statements: what they change, on which table (as the statement names it), so that the
    // values can be checked and the statement rehearsed before anything live changes.
    enum Change {
        Other,
        CreateTable,
        AddColumn,
        ModifyColumn,
        DropIndex,
        AddIndex,
        AddForeignKey,
        CreateObject
    };
    Change change = Other;
    QString table;
    // ModifyColumn: the column, its live type and the type and nullability it is given.
    QString column, liveType, newType;
    bool newNullable = true;
    // AddIndex: the index's name, columns and uniqueness (PRIMARY is unique).
    QString indexName;
    QStringList indexColumns;
    bool unique = false;
    // CreateTable: the foreign keys it carries; AddForeignKey: the key, and the child rows
    // without a parent counted when planned.
    QList<ForeignKey> keys;
    qint64 orphans = -1;
    // CreateObject: the trigger, view or routine (table: a trigger's table, else its name).
    SchemaObject object;
    // Chosen by the rehearsal: the clause appended to the statement (", ALGORITHM=...") and
    // the way the server will carry it out (INSTANT, INPLACE or COPY).
    QString clause, algorithm;

    bool operator==(const SyncStep&) const = default;
};

// The update file refused as a whole before any change, naming what and where; a KrvError
// with its usual number, told apart so that the dry run can list every refusal.
class UpdateFileRefused : public KrvError {
public:
    using KrvError::KrvError;
};

class SchemaSync {
public:
    SchemaSync(const UpdateFile& file, Connection& conexao, SyncView view = {});

    // Plans, then applies the plan.
    void run();

    // Walks every reference table, in stored order, against the snapshot, and returns what
    // the run will show and execute; nothing is shown or executed yet. Throws KrvError
    // (BadFileFormat) naming table, column and value when a piece of the update file that
    // would enter a statement is not of an accepted form.
    QList<SyncStep> plan();
    // With refusals collected, plan() goes on past a refused table, column or index: that
    // piece's steps are left out and one Refusal step stands in their place. For the dry run,
    // which shows every refusal at once; apply() refuses such a plan whole.
    void collectRefusals(bool on) { collectRefusals_ = on; }
    // With it, a foreign key whose child rows lack a parent is left out with a line instead of
    // refusing the file (the data change taken knowingly); keysLeftOut() names each.
    void leaveOutOrphanKeys(bool on) { leaveOutOrphans_ = on; }
    const QStringList& keysLeftOut() const { return leftOut_; }
    // Shows and executes the steps in order; stops at the first statement the server refuses.
    // execute, when given, runs each statement instead of the connection.
    void apply(const QList<SyncStep>& steps,
               const std::function<void(const SyncStep&)>& execute = {});

    // The parts of the plan, for one reference table T as stored in tabelas.
    void CriaTabela(const QString& t);
    // The table's own options against the matched d_tabelas row: a character set or collation
    // that differs is altered, an engine that differs is only reported.
    void AcertaTabela(const QString& t, const UpdateRow& live);
    // liveTable is the matched d_tabelas row's table.
    void AcertaCampos(const QString& t, const QString& liveTable);
    void AcertaIndices(const QString& t, const QString& liveTable);
    // One reference column row of t, and one reference index k of t (n: the live name).
    void AcertaCampo(const QString& t, const QString& liveTable, const UpdateRow& row);
    void AcertaIndice(const QString& t, const QString& n, const QString& k);
    // n is the folded live name used in the statements.
    void IncluiIndice(const QString& t, const QString& n, const QString& k);
    // The reference's foreign keys not created with their tables, after every table: added
    // where missing and sound, a live one that differs only reported.
    void AcertaChaves();
    void AcertaChave(const ForeignKey& key);
    // The reference's triggers, views and routines, after the foreign keys: created where
    // missing, a live one that differs only reported.
    void AcertaObjetos();

private:
    // Refuses the file when the live columns of a unique index to be added hold a value
    // twice.
    // Runs one piece of the plan, turning its refusal into a Refusal step when collecting.
    void piece(const std::function<void()>& work);
    void checkNoDuplicates(const QString& t, const QString& n, const ReferenceIndex& index);
    // Refuses a key whose tables are not both InnoDB, whose columns differ in type or
    // collation, or whose parent has no unique index on its columns. Returns it with the
    // live names of its tables.
    ForeignKey checkKey(const ForeignKey& key);
    // Refuses the modification of a column a live foreign key uses.
    void checkNoLiveKey(const QString& t, const QString& liveTable, const QString& column);
    // The live name of a table, empty when there is none.
    QString liveName(const QString& table) const;
    QList<int> parentsFirst(const UpdateRows& tabelas) const;
    bool fileHas(const QString& table) const;
    // c with its table's character set and collation where the file has c follow them.
    ReferenceColumn withTableCharset(const ReferenceColumn& c) const;
    void status(const QString& text);
    void execute(const QString& sql, SyncStep::Change change = SyncStep::Other,
                 const QString& table = {});
    void line(const QString& text);

    const UpdateFile& file_;
    Connection& conexao_;
    SyncView view_;
    QList<SyncStep> steps_;
    QSet<QString> modified_; // "table.column", folded, of the columns the plan modifies
    ReferenceTable table_;   // the reference table being compared
    QString liveEngine_;     // and its live engine, when it exists
    bool collectRefusals_ = false;
    bool leaveOutOrphans_ = false;
    QStringList leftOut_;
    QHash<QString, QString> liveTables_; // folded -> live name
    QSet<QString> created_;              // folded names of the tables the plan creates
    QSet<QString> inlined_;              // keys created with their table
    QList<ForeignKey> referenceKeys_, liveKeys_;
};

// Adds the lookups the comparison runs once per column and index column; the results are
// the same without them, only slower on large structures.
void prepareLookups(const UpdateFile& file);

} // namespace krv::database
