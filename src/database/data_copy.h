#pragma once
// The copy of the values a change taken knowingly alters: one CSV file per column change
// (RFC 4180, UTF-8), the key columns (every column when the table has none) and the old
// value. NULL is an empty field, an empty text a quoted one (""), so both come back apart.
#include <QFile>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace krv::database {

// One CSV field.
QString csvField(const QVariant& value);

class DataCopy {
public:
    // Creates folder + "/dados-<stamp>-<table>-<column>.csv" (never replacing a file).
    // Throws KrvError when it cannot be written.
    DataCopy(const QString& folder, const QString& stamp, const QString& table,
             const QString& column);
    void row(const QList<QVariant>& values);
    // Flushes and closes; throws KrvError when the disk refused a byte.
    void finish();
    const QString& path() const { return path_; }

private:
    QFile file_;
    QString path_;
};

} // namespace krv::database
