#pragma once
// The forms that pieces of an update file may take before they go into a statement on the
// suite's database. The update file arrives over plain HTTP or on removable media, so every
// name, type, attribute and default expression is checked against a small grammar; anything
// else is refused. Plain functions on text: no database is needed.
//
// Each function checks the value with the blanks at both ends removed (the value as stored
// may keep them; the statement writers decide what to do with them).
#include <QString>

namespace krv::database {

// A table, column or index name that is safe between backquotes: at most 64 characters, no
// backquote, no control character (NUL included), not ending in a blank. Hyphens, dots,
// blanks inside and other punctuation are accepted: every statement quotes its names.
bool isPlainIdentifier(const QString& name);

// An engine, character set or collation name: an ASCII letter, then ASCII letters, digits
// and "_", at most 64 characters.
bool isOptionName(const QString& name);

// An index kind: BTREE, FULLTEXT, SPATIAL or HASH, case ignored.
bool isIndexKind(const QString& kind);

// An index column's prefix length: a whole number from 1 to kMaxPrefixLength, digits only.
inline constexpr int kMaxPrefixLength = 3072;
bool isPrefixLength(const QString& length);

// A column type: a type name, optional arguments (numbers, or quoted enum/set values), then
// optional attributes: unsigned, signed, zerofill, binary, ascii, unicode, byte,
// "character set X", "charset X", "collate X". Case is ignored.
bool isColumnType(const QString& type);

// The extra or auto text of a column: empty, or a sequence of known column attributes:
// auto_increment, on update current_timestamp[(n)], first, after <identifier>,
// comment '<text>', invisible, unique [key], primary key. Case is ignored.
bool isColumnAttributes(const QString& text);

// A default the server reports as an expression, which goes into a statement unquoted: a
// call of one of the known functions (current_timestamp(), now(6), curdate(), uuid(), ...),
// one of the date keywords (current_timestamp, current_date, ...), or arithmetic between
// parentheses ("(1 + 2)"; + - * / over those, numbers and quoted texts), or one text between
// apostrophes (how the server reports a text column's default). Anything else, a bare
// number or text included, is a literal and is written quoted.
bool isDefaultExpression(const QString& text);

// The one column check an update file may carry: json_valid(`field`) of the column itself,
// which the server attaches to every JSON column. Case and blanks ignored.
bool isJsonCheck(const QString& check, const QString& field);

} // namespace krv::database
