#include "database/schema_snapshot.h"

#include "database/connection.h"
#include "database/update_file.h"

#include <cmath>

namespace krv::database {

QString snapshotLabel(int value, int maximum) {
    // The number format "0": rounded half away from zero.
    const double percent = maximum > 0 ? value * 100.0 / maximum : 0.0;
    return kSnapshotCaption + " " + QString::number(std::llround(percent)) + "%";
}

namespace {

// A null value (a column without default, typically) is stored as an empty value.
QString shown(const Recordset& rs, const char* name) {
    return rs.text(QString::fromLatin1(name));
}

} // namespace

void LerEstrutura(const UpdateFile& file, Connection& conexao, const SnapshotView& view) {
    if (view.status)
        view.status(QString());

    UpdateFileTransaction transaction(file);
    file.execute("delete from d_tabelas");
    file.execute("delete from d_campos");
    file.execute("delete from d_indices");

    // The table list is read whole first: its size sets the progress range.
    QStringList tables;
    {
        std::unique_ptr<Recordset> rsLerTabelas;
        CriaRecordset(rsLerTabelas, true);
        rsLerTabelas->Open("show tables", conexao);
        for (; !rsLerTabelas->eof(); rsLerTabelas->moveNext())
            tables << rsLerTabelas->text(0);
    }
    const int maximum = int(tables.size());
    if (view.start)
        view.start(maximum);

    std::unique_ptr<Recordset> rsLerCampos, rsLerIndices;
    int value = 0;
    for (const QString& t : tables) {
        file.execute("insert into d_tabelas values (?)", {t});

        CriaRecordset(rsLerCampos, true);
        rsLerCampos->Open("show columns from " + t, conexao);
        for (; !rsLerCampos->eof(); rsLerCampos->moveNext())
            file.execute("insert into d_campos values (?,?,?,?,?,?,?)",
                         {t, shown(*rsLerCampos, "field"), shown(*rsLerCampos, "type"),
                          shown(*rsLerCampos, "null"), shown(*rsLerCampos, "key"),
                          shown(*rsLerCampos, "default"), shown(*rsLerCampos, "extra")});

        CriaRecordset(rsLerIndices, true);
        rsLerIndices->Open("show index from " + t, conexao);
        for (; !rsLerIndices->eof(); rsLerIndices->moveNext())
            file.execute("insert into d_indices values (?,?,?,?,?)",
                         {t, shown(*rsLerIndices, "key_name"), shown(*rsLerIndices, "column_name"),
                          rsLerIndices->field("seq_in_index").toLongLong(),
                          shown(*rsLerIndices, "non_unique")});

        ++value;
        if (view.step)
            view.step(value, snapshotLabel(value, maximum));
    }
    transaction.commit();
    if (view.finish)
        view.finish();
}

} // namespace krv::database
