#pragma once
// The snapshot of the live structure: every table, column and index column the server
// reports through its "show" statements, written into d_tabelas, d_campos and d_indices of
// the update file in one transaction.
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

namespace krv::database {

class Connection;
class UpdateFile;

// What the snapshot shows while it works. Every member may be empty.
struct SnapshotView {
    std::function<void(const QString&)> status; // the status line (yields)
    std::function<void(int maximum)> start;     // progress range 0..maximum shown, value 0
    std::function<void(int value, const QString& label)> step; // after each table (yields)
    std::function<void()> finish;                              // progress hidden again
};

// "Reunindo informações sobre o BD atual... " + value*100/maximum as a whole number + "%".
QString snapshotLabel(int value, int maximum);
inline const QString kSnapshotCaption = QStringLiteral("Reunindo informações sobre o BD atual...");

// Rebuilds the snapshot tables of file from the live database on conexao. Throws KrvError
// on the first failure; the update file then keeps what it had before the call.
//
// The columns and indexes of every table come from three statements whatever the number of
// tables ("show tables" and the catalogue's column and index lists), so a server behind a
// slow link costs a few round trips instead of two per table. The rows are those the two
// "show" statements per table give; a table whose catalogue rows cannot be mapped with
// certainty is read with those statements.
void LerEstrutura(const UpdateFile& file, Connection& conexao, const SnapshotView& view = {});

// The same snapshot read with "show columns from" and "show index from" for each table in
// turn: the reference the catalogue reading is held to.
void LerEstruturaPorTabela(const UpdateFile& file, Connection& conexao,
                           const SnapshotView& view = {});

// The default "show columns" reports for a column of the given full type whose catalogue
// default (information_schema.COLUMNS.COLUMN_DEFAULT) is catalogueDefault, a null default
// as a null QVariant; nothing when the catalogue text cannot be turned back with certainty.
std::optional<QVariant> showColumnsDefault(const QString& type, const QVariant& catalogueDefault);

} // namespace krv::database
