#include "database/schema_plan.h"

#include "common/krv_error.h"
#include "database/connection.h"
#include "database/schema_snapshot.h"
#include "database/schema_statements.h"
#include "database/schema_sync.h"
#include "database/update_file.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>

namespace krv::database {

namespace {

struct IntegerType {
    const char* name;
    long double low, high, unsignedHigh;
};

const IntegerType kIntegers[] = {
    {"tinyint", -128.0L, 127.0L, 255.0L},
    {"smallint", -32768.0L, 32767.0L, 65535.0L},
    {"mediumint", -8388608.0L, 8388607.0L, 16777215.0L},
    {"int", -2147483648.0L, 2147483647.0L, 4294967295.0L},
    {"integer", -2147483648.0L, 2147483647.0L, 4294967295.0L},
    {"bigint", -9223372036854775808.0L, 9223372036854775807.0L, 18446744073709551615.0L},
};

QString number(long double v) {
    return QString::number(double(v), 'f', 0);
}

} // namespace

TypeLimit typeLimit(const QString& type) {
    static const QRegularExpression form(
        R"(^\s*([a-z]+)\s*(?:\(\s*(\d+)\s*(?:,\s*(\d+)\s*)?\))?\s*(.*)$)",
        QRegularExpression::CaseInsensitiveOption);
    const auto m = form.match(type);
    TypeLimit t;
    if (!m.hasMatch())
        return t;
    const QString name = m.captured(1).toLower();
    const bool hasLength = !m.captured(2).isEmpty();
    const int length = m.captured(2).toInt();
    const bool isUnsigned = m.captured(4).toLower().contains("unsigned");
    if ((name == "varchar" || name == "char") && hasLength) {
        t.family = TypeLimit::Chars;
        t.high = length;
    } else if ((name == "varbinary" || name == "binary") && hasLength) {
        t.family = TypeLimit::Bytes;
        t.high = length;
    } else if (name == "decimal" || name == "numeric" || name == "dec") {
        // The server's default is decimal(10,0).
        const int precision = hasLength ? length : 10;
        t.family = TypeLimit::Decimal;
        t.scale = m.captured(3).toInt();
        t.high = std::pow(10.0L, precision - t.scale);
        t.low = -t.high;
    } else {
        for (const IntegerType& i : kIntegers)
            if (name == i.name) {
                t.family = TypeLimit::Integer;
                t.low = isUnsigned ? 0 : i.low;
                t.high = isUnsigned ? i.unsignedHigh : i.high;
            }
    }
    return t;
}

bool canLoseData(const QString& liveType, const QString& newType) {
    const TypeLimit to = typeLimit(newType);
    if (to.family == TypeLimit::Other)
        return false;
    const TypeLimit from = typeLimit(liveType);
    if (from.family != to.family)
        return true;
    switch (to.family) {
    case TypeLimit::Chars:
    case TypeLimit::Bytes:
        return to.high < from.high;
    case TypeLimit::Integer:
        return to.low > from.low || to.high < from.high;
    case TypeLimit::Decimal:
        return to.high < from.high || to.scale < from.scale;
    case TypeLimit::Other:
        break;
    }
    return false;
}

std::optional<QString> notFitting(const QString& column, const QString& newType) {
    const TypeLimit t = typeLimit(newType);
    switch (t.family) {
    case TypeLimit::Chars:
        return "char_length(" + column + ") > " + number(t.high);
    case TypeLimit::Bytes:
        return "length(" + column + ") > " + number(t.high);
    case TypeLimit::Integer:
        return column + " < " + number(t.low) + " or " + column + " > " + number(t.high);
    case TypeLimit::Decimal:
        // Digits after the point are rounded, not lost as a value; the integer part is.
        return "abs(" + column + ") >= " + number(t.high);
    case TypeLimit::Other:
        break;
    }
    return std::nullopt;
}

namespace {

// The reference and live types of a column being altered, from the working copy.
struct Change {
    QString liveTable, field, liveType, newType;
};

std::optional<Change> changeOf(const UpdateFile& file, const QString& table, const QString& field) {
    const UpdateRows ref = file.query("select type from campos where lower(trim([table])) = ? "
                                      "collate nocase and upper(trim(field)) = ? collate nocase",
                                      {foldName(table), trimBlanks(field).toUpper()});
    const UpdateRows liveTable = file.query(
        "select [table] from d_tabelas where [table] = ? collate nocase", {foldName(table)});
    const UpdateRows live =
        file.query("select type from d_campos where lower(trim([table])) = ? collate nocase "
                   "and upper(trim(field)) = ? collate nocase",
                   {foldName(table), trimBlanks(field).toUpper()});
    if (ref.empty() || liveTable.empty() || live.empty())
        return std::nullopt;
    return Change{liveTable.first().text("table"), trimBlanks(field),
                  trimBlanks(live.first().text("type")), trimBlanks(ref.first().text("type"))};
}

long long countRows(Connection& conexao, const Change& c, const QString& condition) {
    Recordset rs;
    rs.Open("select count(*) from `" + c.liveTable + "` where " + condition, conexao);
    return rs.eof() ? 0 : rs.field(0).toLongLong();
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
    const QList<SyncStep> steps = sync.plan();

    static const QRegularExpression altered(R"(^Alterando Campo: <([^-]*)-(.*)>$)");
    std::optional<Change> pending;
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
            const auto m = altered.match(step.text);
            pending = m.hasMatch() ? changeOf(file, m.captured(1), m.captured(2)) : std::nullopt;
            continue;
        }
        ++result.statements;
        result.output << step.text + ";";
        if (!pending)
            continue;
        const Change c = *std::exchange(pending, std::nullopt);
        if (!canLoseData(c.liveType, c.newType))
            continue;
        const auto condition = notFitting("`" + c.field + "`", c.newType);
        if (!condition)
            continue;
        const long long rows = countRows(conexao, c, *condition);
        ++result.lossWarnings;
        result.output << QString("-- ATENÇÃO: %1.%2 passa de %3 para %4 e pode perder dados: "
                                 "%5 linha(s) não cabem")
                             .arg(c.liveTable, c.field, c.liveType, c.newType)
                             .arg(rows);
    }
    return result;
}

} // namespace krv::database
