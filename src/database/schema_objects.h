#pragma once
// Triggers, views and routines: as the update file carries them (objetos) and the snapshot
// records them (d_objetos), as the catalogue reports them, and the statement that creates
// one. They are only ever created where missing; a live one that differs is left as it is.
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

namespace krv::database {

class UpdateFile;
class UpdateRows;

struct SchemaObject {
    QString name;
    QString kind; // TRIGGER, VIEW, PROCEDURE or FUNCTION
    // Triggers: the table, BEFORE or AFTER, INSERT, UPDATE or DELETE.
    QString table, timing, event;
    // A trigger's body, a view's select, a routine's whole create statement; without DEFINER.
    QString definition;

    bool operator==(const SchemaObject&) const = default;
};

// The definition without its DEFINER clause: the creating user is the definer.
QString withoutDefiner(const QString& definition);
// The definition as two servers' texts compare: the DEFINER clause left out, every run of
// white space one blank, none at either end.
QString normalDefinition(const QString& definition);

// Every trigger, view and routine of db's current database, by kind and name.
// A forward-only query on db; throws KrvError naming sql when the server refuses it.
QSqlQuery readQuery(QSqlDatabase db, const QString& sql);

QList<SchemaObject> liveObjects(QSqlDatabase db);

QList<SchemaObject> objectsFrom(const UpdateRows& rows);
void createObjectTable(const UpdateFile& file, const QString& table);
void writeObjects(const UpdateFile& file, const QString& table, const QList<SchemaObject>& objects);

// What is wrong with an object of the update file for a statement, empty when nothing: its
// name, kind, a trigger's table, timing and event, a routine's head.
QString objectProblem(const SchemaObject& object);

// The create statement; a trigger named name on table (a scratch copy's, in the rehearsal).
QString createObjectStatement(const SchemaObject& object);
QString createTriggerStatement(const SchemaObject& trigger, const QString& name,
                               const QString& table);

// "Gatilho", "Visão", "Procedimento", "Função".
QString objectKindText(const QString& kind);

} // namespace krv::database
