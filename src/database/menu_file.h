#pragma once
// The menu file mnusis_cs.krv and the statements that load it: fixed-width records cut by
// character position, read line by line from a Windows-1252 file, and batched inserts
// into the suite's menu table.
#include "common/erro_fatal.h"

#include <QString>
#include <QStringList>

namespace krv::database {

// One row of `menu`, cut from one line of the file.
struct MenuRecord {
    QString Sistema;       // positions 1-50, trailing blanks kept
    QString sequencia;     // 51-53
    QString Menu;          // 54-83
    QString NomeInter;     // 84-103
    int Nivel = 0;         // 104
    QString NivelAnterior; // 105-154
    int Programa = 0;      // 155

    bool operator==(const MenuRecord&) const = default;
};

// Cuts a line (without its line end) into the seven fields. Fields past the end of a
// short line are empty (numbers 0); characters after position 155 are ignored.
MenuRecord parseMenuLine(const QString& line);

// The leading numeric value of a one-character field: its digit, or 0 for anything else.
int menuDigit(const QString& field);

// Reads the menu file one line at a time. Opening fails with a KrvError (file not found
// or not readable); the file stays registered with the fatal report while open.
class MenuFileReader {
public:
    explicit MenuFileReader(const QString& path);
    // The file's length in bytes.
    qint64 size() const { return size_; }
    bool atEnd();
    // The next line, decoded from Windows-1252, without its CR LF (or LF).
    QString readLine();

private:
    OpenFile file_;
    qint64 size_ = 0;
};

// Collects rows into multi-row insert statements, each kept well below the smallest
// max_allowed_packet an old server may have.
class MenuInsertBatch {
public:
    // backslashEscapes: the session's escaping mode (Connection::backslashEscapes).
    explicit MenuInsertBatch(int maxRows = 1000, int maxChars = 200000,
                             bool backslashEscapes = true);
    void add(const MenuRecord& record);
    bool full() const;
    bool empty() const { return rows_ == 0; }
    int rows() const { return rows_; }
    // The statement for the rows collected so far; the batch starts empty again.
    QString take();

private:
    int maxRows_, maxChars_;
    bool backslashEscapes_;
    int rows_ = 0;
    QString sql_;
};

// The values of one row as they appear in an insert: "('...', ..., n, '...', n)".
QString menuRowValues(const MenuRecord& record, bool backslashEscapes = true);

// The statement that records the new menu version in every row of licensa.
QString menuVersionUpdate(const QString& versaoMenu, bool backslashEscapes = true);

} // namespace krv::database
