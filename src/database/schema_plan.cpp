#include "database/schema_plan.h"

#include "database/connection.h"
#include "database/live_catalogue.h"
#include "database/rehearsal.h"
#include "database/schema_session.h"
#include "database/schema_snapshot.h"
#include "database/schema_statements.h"
#include "database/schema_sync.h"
#include "database/update_file.h"
#include "database/value_check.h"
#include "platform/krv_error.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace krv::database {

namespace {

// A copy of a table this large holds its writes long enough to be felt.
constexpr qint64 kCopyWarnRows = 100000;
constexpr qint64 kCopyWarnBytes = 64 * 1024 * 1024;

QString size(qint64 bytes) {
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + " MiB";
}

} // namespace

PlanResult planUpdate(const QString& updateFilePath, Connection& conexao) {
    PlanResult result;
    if (!QFileInfo(updateFilePath).isFile())
        throw KrvError(err::BadFileFormat,
                       "Arquivo de atualização não encontrado: " + updateFilePath);
    // The snapshot and the lookups are written into the file: a copy, never the user's file.
    QTemporaryDir work;
    const QString copy = work.filePath("krv.mdb");
    if (!work.isValid() || !QFile::copy(updateFilePath, copy))
        throw KrvError(err::BadFileFormat,
                       "Não foi possível copiar " + updateFilePath + " para uma pasta temporária.");
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    UpdateFile file = openUpdateFile(copy);
    if (file.query("select * from numero").empty())
        throw KrvError(err::BadFileFormat, "Arquivo <" + updateFilePath + "> inválido!");

    LerEstrutura(file, conexao);
    prepareLookups(file);
    SchemaSync sync(file, conexao);
    sync.collectRefusals(true);
    QList<SyncStep> steps = sync.plan();

    QList<SyncStep> statements;
    for (const SyncStep& step : steps)
        if (step.kind == SyncStep::Statement)
            statements << step;
    ValueCheckResult check;
    if (!statements.isEmpty()) {
        SessionScope session(conexao);
        session.setMode(SessionScope::Strict);
        try {
            rehearse(conexao, steps);
        } catch (const UpdateFileRefused& e) {
            steps << SyncStep{SyncStep::Refusal, e.description()};
        }
        check = checkValues(conexao, valueChanging(steps));
        for (const QString& refusal : check.refusals)
            steps << SyncStep{SyncStep::Refusal, refusal};
    }

    for (const SyncStep& step : steps) {
        if (step.kind == SyncStep::Status)
            continue;
        if (step.kind == SyncStep::Refusal) {
            result.refusals << step.text;
            result.output << "-- RECUSADO: " + step.text;
            continue;
        }
        if (step.kind == SyncStep::Line) {
            result.output << "-- " + step.text;
            continue;
        }
        ++result.statements;
        result.output << step.text + step.clause + ";";
        if (step.change != SyncStep::CreateTable && !step.algorithm.isEmpty()) {
            const TableSize t = liveTableSize(conexao, step.table);
            result.output << QString("-- algoritmo %1; tabela <%2>: %3 linha(s), %4")
                                 .arg(step.algorithm, step.table)
                                 .arg(t.rows)
                                 .arg(size(t.bytes));
            if (step.algorithm == "COPY" && (t.rows >= kCopyWarnRows || t.bytes >= kCopyWarnBytes))
                result.output << QString("-- ATENÇÃO: a tabela <%1> será copiada inteira; outras "
                                         "conexões não gravam nela enquanto isso")
                                     .arg(step.table);
        }
        if (step.change == SyncStep::AddForeignKey && !step.keys.isEmpty())
            result.output << QString("-- chave estrangeira <%1>: %2 linha(s) sem correspondente "
                                     "em <%3>")
                                 .arg(step.keys.first().name)
                                 .arg(step.orphans)
                                 .arg(step.keys.first().parent);
        if (step.change != SyncStep::ModifyColumn)
            continue;
        for (const ColumnLoss& loss : check.losses) {
            if (foldName(loss.table) != foldName(step.table) ||
                foldName(loss.column) != foldName(step.column))
                continue;
            ++result.lossWarnings;
            result.output << QString("-- ATENÇÃO: %1.%2 passa de %3 para %4 e mudaria dados: %5 "
                                     "linha(s) não cabem (por exemplo %6)")
                                 .arg(loss.table, loss.column, loss.liveType, loss.newType)
                                 .arg(loss.rows)
                                 .arg(loss.example);
        }
    }
    return result;
}

} // namespace krv::database
