#include "database/schema_snapshot.h"

#include "database/connection.h"
#include "database/update_file.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>
#include <vector>

namespace krv::database {

QString snapshotLabel(int value, int maximum) {
    // The number format "0": rounded half away from zero.
    const double percent = maximum > 0 ? value * 100.0 / maximum : 0.0;
    return kSnapshotCaption + " " + QString::number(std::llround(percent)) + "%";
}

namespace {

// One "show" statement's rows, forward only, its columns found by name once: the result
// headers' case is the server's business, and looking names up per row costs more than the
// statement itself on large structures.
class ShowResult {
public:
    ShowResult(Connection& conexao, const QString& sql, std::initializer_list<const char*> names)
        : query_(conexao.database()) {
        conexao.requireOpen();
        query_.setForwardOnly(true);
        if (!query_.exec(sql))
            throw KrvError(errorNumber(query_.lastError()), errorText(query_.lastError()));
        const QSqlRecord record = query_.record();
        for (const char* name : names) {
            const int index = record.indexOf(QString::fromLatin1(name));
            if (index < 0)
                throw KrvError(3265, "Campo " + QString::fromLatin1(name) +
                                         " não existe no resultado de " + sql + ".");
            columns_.push_back(index);
        }
    }
    bool next() { return query_.next(); }
    // A null value (a column without default, typically) is stored as an empty value.
    QString text(int column) const { return query_.value(columns_[size_t(column)]).toString(); }
    QVariant value(int column) const { return query_.value(columns_[size_t(column)]); }

private:
    static QString errorText(const QSqlError& e) {
        return (e.databaseText().isEmpty() ? e.text() : e.databaseText()).trimmed();
    }
    static int errorNumber(const QSqlError& e) {
        bool ok = false;
        const int n = e.nativeErrorCode().toInt(&ok);
        return ok && n != 0 ? n : err::Database;
    }
    QSqlQuery query_;
    std::vector<int> columns_;
};

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

    int value = 0;
    for (const QString& t : tables) {
        file.execute("insert into d_tabelas values (?)", {t});

        ShowResult rsLerCampos(conexao, "show columns from " + t,
                               {"field", "type", "null", "key", "default", "extra"});
        while (rsLerCampos.next())
            file.execute("insert into d_campos values (?,?,?,?,?,?,?)",
                         {t, rsLerCampos.text(0), rsLerCampos.text(1), rsLerCampos.text(2),
                          rsLerCampos.text(3), rsLerCampos.text(4), rsLerCampos.text(5)});

        ShowResult rsLerIndices(conexao, "show index from " + t,
                                {"key_name", "column_name", "seq_in_index", "non_unique"});
        while (rsLerIndices.next())
            file.execute("insert into d_indices values (?,?,?,?,?)",
                         {t, rsLerIndices.text(0), rsLerIndices.text(1),
                          rsLerIndices.value(2).toLongLong(), rsLerIndices.text(3)});

        ++value;
        if (view.step)
            view.step(value, snapshotLabel(value, maximum));
    }
    transaction.commit();
    if (view.finish)
        view.finish();
}

} // namespace krv::database
