#pragma once
// The comparison of the reference structure in the update file with the snapshot of the
// live structure, and the statements that add what is missing or different. Nothing live
// is ever removed except an index that is rebuilt.
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

class SchemaSync {
public:
    SchemaSync(const UpdateFile& file, Connection& conexao, SyncView view = {});

    // Walks every reference table, in stored order, against the snapshot.
    void run();

    // The steps, for one reference table T as stored in tabelas.
    void CriaTabela(const QString& t);
    // liveTable is the matched d_tabelas row's table.
    void AcertaCampos(const QString& t, const QString& liveTable);
    void AcertaIndices(const QString& t, const QString& liveTable);
    // n is the folded live name used in the statements.
    void IncluiIndice(const QString& t, const QString& n, const QString& k);

private:
    void execute(const QString& sql);
    void line(const QString& text);

    const UpdateFile& file_;
    Connection& conexao_;
    SyncView view_;
};

// Adds the lookups the comparison runs once per column and index column; the results are
// the same without them, only slower on large structures.
void prepareLookups(const UpdateFile& file);

} // namespace krv::database
