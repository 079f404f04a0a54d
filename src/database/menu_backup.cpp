#include "database/menu_backup.h"

#include <QDateTime>
#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QStringList>

namespace krv::database {

namespace {

QString identifier(const QString& name) {
    return '`' + QString(name).replace('`', "``") + '`';
}

} // namespace

QString menuValueLiteral(const QVariant& value) {
    if (!value.isValid() || value.isNull())
        return "NULL";
    if (value.typeId() == QMetaType::QByteArray)
        return "x'" + QString::fromLatin1(value.toByteArray().toHex()) + "'";
    QString text;
    if (value.typeId() == QMetaType::QDateTime)
        text = value.toDateTime().toString("yyyy-MM-dd HH:mm:ss.zzz");
    else
        text = value.toString();
    // As bytes, so that no quote or backslash depends on the session's mode.
    return "convert(x'" + QString::fromLatin1(text.toUtf8().toHex()) + "' using utf8mb4)";
}

int saveMenu(Connection& connection, const QString& path) {
    Recordset rs;
    rs.Open("select * from menu", connection);
    QStringList columns;
    for (int i = 0; i < rs.fieldCount(); ++i)
        columns << identifier(rs.fieldName(i));
    const QString head = "insert into `menu` (" + columns.join(", ") + ") values (";
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw KrvError(err::FileAccess,
                       "Não foi possível gravar " + path + ": " + file.errorString());
    int rows = 0;
    for (; !rs.eof(); rs.moveNext(), ++rows) {
        QStringList values;
        for (int i = 0; i < rs.fieldCount(); ++i)
            values << menuValueLiteral(rs.field(i));
        file.write((head + values.join(", ") + ");\n").toUtf8());
    }
    if (!file.commit())
        throw KrvError(err::FileAccess,
                       "Não foi possível gravar " + path + ": " + file.errorString());
    return rows;
}

int restoreMenu(Connection& connection, const QString& path, const QStringList& alsoRun) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw KrvError(err::FileAccess, "Não foi possível ler " + path + ": " + file.errorString());
    const QList<QByteArray> lines = file.readAll().split('\n');
    Transaction transaction(connection);
    connection.Execute("delete from menu");
    int rows = 0;
    for (const QByteArray& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        connection.Execute(QString::fromUtf8(line));
        ++rows;
    }
    for (const QString& sql : alsoRun)
        connection.Execute(sql);
    transaction.commit();
    return rows;
}

} // namespace krv::database
