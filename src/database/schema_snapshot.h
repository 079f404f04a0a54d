#pragma once
// The snapshot of the live structure: every table, column and index column the server
// reports through its "show" statements, written into d_tabelas, d_campos and d_indices of
// the update file in one transaction.
#include <QString>
#include <functional>

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
void LerEstrutura(const UpdateFile& file, Connection& conexao, const SnapshotView& view = {});

} // namespace krv::database
