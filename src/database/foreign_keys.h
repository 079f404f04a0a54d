#pragma once
// Foreign keys: as the update file carries them (estrangeiras) and the snapshot records them
// (d_estrangeiras), one row per key column; as the catalogue reports them; and the texts
// that add one and count the rows it would leave without a parent.
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace krv::database {

class UpdateFile;
class UpdateRows;

struct ForeignKey {
    QString table, name; // the child table and the key's name
    QStringList columns;
    QString parent;
    QStringList parentColumns;
    QString onDelete, onUpdate; // upper case, as the catalogue writes them; empty: RESTRICT

    bool operator==(const ForeignKey&) const = default;
    // "CONSTRAINT `n` FOREIGN KEY (`a`) REFERENCES `p` (`x`) ON DELETE ... ON UPDATE ..." (each
    // action unless RESTRICT),
    // the parent named parentName, the constraint's name left out unless named: a scratch
    // copy takes a name of its own (key names are unique in a whole database).
    QString clause(const QString& parentName, bool named = true) const;
    QString clause() const { return clause(parent); }
    // Same columns, parent and actions, names folded.
    bool sameAs(const ForeignKey& other) const;
    // "<t>(a,b) -> <p>(x,y)"
    QString describe() const;
};

// RESTRICT, CASCADE, SET NULL, NO ACTION or SET DEFAULT, case ignored, or empty.
bool isReferentialAction(const QString& action);

// The keys of rows of estrangeiras or d_estrangeiras, grouped by table and name, each key's
// columns by seq_in_key, keys in the order their first row is stored.
QList<ForeignKey> foreignKeysFrom(const UpdateRows& rows);
// Every foreign key of db's current database, from the catalogue.
QList<ForeignKey> liveForeignKeys(QSqlDatabase db);

// Creates the table (estrangeiras or d_estrangeiras) when the file lacks it, and writes keys.
void createForeignKeyTable(const UpdateFile& file, const QString& table);
void writeForeignKeys(const UpdateFile& file, const QString& table, const QList<ForeignKey>& keys);

// "alter table `t` add CONSTRAINT ..."
QString addForeignKeyStatement(const ForeignKey& key);
// The child rows, all key columns set, without a parent row: their number, and the first of
// them. Without the parent table every such row counts.
QString orphanCountQuery(const ForeignKey& key, bool parentExists);
QString orphanExampleQuery(const ForeignKey& key, bool parentExists);

// A type as a key compares it, lower case: an integer's display width and a text's or
// binary string's length do not count.
QString keyType(const QString& type);

} // namespace krv::database
