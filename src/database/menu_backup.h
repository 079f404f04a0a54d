#pragma once
// The rows of the suite's menu table as a plain SQL text, one insert a line, every column
// named and every value written as its bytes: loading the text back gives the same rows
// whatever the session's escaping mode.
#include "database/connection.h"

#include <QString>
#include <QStringList>

namespace krv::database {

// Writes every row of menu into path (atomically); returns the number of rows. Throws
// KrvError when the table cannot be read or the file written.
int saveMenu(Connection& connection, const QString& path);

// Replaces every row of menu by those of path and runs the statements of alsoRun, all in
// one transaction; returns the number of rows. Throws KrvError, changing nothing, when the file
// cannot be read or a row is refused.
int restoreMenu(Connection& connection, const QString& path, const QStringList& alsoRun = {});

// One value as it is written into the text: NULL, x'..' for bytes, else its UTF-8 text.
QString menuValueLiteral(const QVariant& value);

} // namespace krv::database
