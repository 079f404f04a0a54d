#include "database/value_check.h"

#include "database/connection.h"
#include "database/live_catalogue.h"
#include "database/schema_session.h"
#include "database/schema_statements.h"

#include <QHash>

namespace krv::database {

namespace {

const QString kScratch = "`zv_valores`";

bool sameName(const QString& a, const QString& b) {
    return foldName(a) == foldName(b);
}

qsizetype indexOfName(const QStringList& names, const QString& name) {
    for (qsizetype i = 0; i < names.size(); ++i)
        if (sameName(names[i], name))
            return i;
    return -1;
}

QString shortValue(const QVariant& v) {
    if (v.isNull())
        return "NULL";
    QString s = v.toString();
    if (s.size() > 60)
        s = s.left(57) + "...";
    return "<" + s + ">";
}

// The scratch copy of one table's columns that matter: the key (every column when there is
// none), the changed columns and the columns of the keys to judge, each as it is live (sK);
// and for each changed column its value converted (nI) and converted back (bI), computed by
// the server itself through virtual columns.
class TableCheck {
public:
    TableCheck(Connection& conexao, const QString& table, const QList<const SyncStep*>& changes,
               const QList<const SyncStep*>& newKeys)
        : conexao_(conexao), table_(table), changes_(changes) {
        const QList<LiveColumn> columns = liveColumns(conexao, table);
        QStringList names;
        for (const LiveColumn& c : columns)
            names << c.name;
        QStringList primary;
        QList<LiveIndex> keys;
        for (const LiveIndex& index : liveIndexes(conexao, table)) {
            if (index.name == "PRIMARY")
                primary = index.columns;
            if (index.unique && touchesChange(index.columns))
                keys << index;
        }
        for (const SyncStep* step : newKeys) {
            // A key the plan rebuilds is judged by its new form only.
            keys.removeIf([&](const LiveIndex& k) { return sameName(k.name, step->indexName); });
            keys << LiveIndex{step->indexName, step->indexColumns, true};
        }
        key_ = primary.isEmpty() ? names : primary;
        for (const QString& k : key_)
            store(columns, k);
        for (const SyncStep* step : changes)
            store(columns, step->column);
        for (const LiveIndex& k : keys) {
            bool known = true;
            for (const QString& c : k.columns)
                known = known && indexOfName(names, c) >= 0;
            // A column the plan is still to add holds no values: the server judges that key.
            if (!known)
                continue;
            for (const QString& c : k.columns)
                store(columns, c);
            keys_ << k;
        }
    }

    void create() {
        QStringList defs;
        for (qsizetype i = 0; i < stored_.size(); ++i)
            // NULL spelled out: an older server makes a bare timestamp NOT NULL, and a NULL
            // copied into it would read as the time of the copy.
            defs << QString("s%1 %2 NULL").arg(i).arg(stored_[i].definition());
        for (qsizetype i = 0; i < changes_.size(); ++i) {
            const qsizetype s = storedIndex(changes_[i]->column);
            defs << QString("n%1 %2 as (s%3) virtual").arg(i).arg(changes_[i]->newType).arg(s);
            defs << QString("b%1 %2 as (n%1) virtual").arg(i).arg(stored_[s].definition());
        }
        conexao_.Execute("drop temporary table if exists " + kScratch);
        // MyISAM: a scratch copy needs no transactions, and fills several times faster.
        conexao_.Execute("create temporary table " + kScratch + " (" + defs.join(", ") +
                         ") engine=MyISAM");
        QStringList targets, sources;
        for (qsizetype i = 0; i < stored_.size(); ++i) {
            targets << QString("s%1").arg(i);
            sources << quoteName(stored_[i].name);
        }
        conexao_.Execute("insert into " + kScratch + " (" + targets.join(",") + ") select " +
                         sources.join(",") + " from " + quoteName(table_));
    }

    void drop() { conexao_.Execute("drop temporary table if exists " + kScratch); }

    // The rows whose value of change i would not survive.
    QString lost(qsizetype i) const {
        const qsizetype s = storedIndex(changes_[i]->column);
        QString c = QString("not (binary s%1 <=> binary b%2)").arg(s).arg(i);
        if (!changes_[i]->newNullable)
            c += QString(" or s%1 is null").arg(s);
        return "(" + c + ")";
    }

    QList<qint64> lostCounts() {
        QStringList sums;
        for (qsizetype i = 0; i < changes_.size(); ++i)
            sums << "coalesce(sum(" + lost(i) + "), 0)";
        Recordset rs;
        rs.Open("select " + sums.join(", ") + " from " + kScratch, conexao_);
        QList<qint64> counts;
        for (qsizetype i = 0; i < changes_.size(); ++i)
            counts << (rs.eof() ? 0 : rs.field(int(i)).toLongLong());
        return counts;
    }

    // The key's values (or the whole row's), then the old value, of each row lost by change i.
    void lostRows(qsizetype i, qint64 limit,
                  const std::function<void(const QStringList&, const QList<QVariant>&)>& row) {
        QStringList header, select;
        for (const QString& k : key_) {
            header << stored_[storedIndex(k)].name;
            select << QString("s%1").arg(storedIndex(k));
        }
        header << changes_[i]->column;
        select << QString("s%1").arg(storedIndex(changes_[i]->column));
        Recordset rs;
        rs.Open("select " + select.join(",") + " from " + kScratch + " where " + lost(i) +
                    (limit > 0 ? QString(" limit %1").arg(limit) : QString()),
                conexao_);
        for (; !rs.eof(); rs.moveNext()) {
            QList<QVariant> values;
            for (int f = 0; f < rs.fieldCount(); ++f)
                values << rs.field(f);
            row(header, values);
        }
    }

    // The keys the converted values would break, each as a refusal's text.
    QStringList brokenKeys(const QString& shownTable) {
        QStringList broken;
        for (const LiveIndex& k : keys_) {
            QStringList exprs, present;
            for (const QString& c : k.columns) {
                const QString e = converted(c);
                exprs << e;
                present << e + " is not null";
            }
            Recordset rs;
            if (k.name == "PRIMARY") {
                rs.Open("select count(*) from " + kScratch + " where not (" +
                            present.join(" and ") + ")",
                        conexao_);
                if (!rs.eof() && rs.field(0).toLongLong() > 0)
                    broken << QString("a chave primária <%1> teria %2 linha(s) com valor nulo")
                                  .arg(k.columns.join(','))
                                  .arg(rs.field(0).toLongLong());
            }
            rs.Open("select " + exprs.join(",") + " from " + kScratch + " where " +
                        present.join(" and ") + " group by " + exprs.join(",") +
                        " having count(*) > 1 limit 1",
                    conexao_);
            if (rs.eof())
                continue;
            QStringList values;
            for (int f = 0; f < rs.fieldCount(); ++f)
                values << rs.text(f);
            broken << QString("o índice único <%1> teria valores repetidos em <%2> depois da "
                              "alteração, por exemplo <%3>")
                          .arg(k.name, k.columns.join(','), values.join(','));
        }
        for (QString& b : broken)
            b = "Arquivo de atualização recusado: tabela <" + shownTable + ">, " + b +
                ". Nenhuma alteração foi feita no banco de dados.";
        return broken;
    }

private:
    bool touchesChange(const QStringList& columns) const {
        for (const SyncStep* step : changes_)
            if (indexOfName(columns, step->column) >= 0)
                return true;
        return false;
    }
    void store(const QList<LiveColumn>& columns, const QString& name) {
        if (storedIndex(name) >= 0)
            return;
        for (const LiveColumn& c : columns)
            if (sameName(c.name, name)) {
                stored_ << c;
                return;
            }
    }
    qsizetype storedIndex(const QString& name) const {
        for (qsizetype i = 0; i < stored_.size(); ++i)
            if (sameName(stored_[i].name, name))
                return i;
        return -1;
    }
    // A column as the change leaves it.
    QString converted(const QString& column) const {
        for (qsizetype i = 0; i < changes_.size(); ++i)
            if (sameName(changes_[i]->column, column))
                return QString("n%1").arg(i);
        return QString("s%1").arg(storedIndex(column));
    }

    Connection& conexao_;
    QString table_;
    QList<const SyncStep*> changes_;
    QList<LiveColumn> stored_;
    QStringList key_;
    QList<LiveIndex> keys_;
};

QStringList nullsInPrimaryKey(Connection& conexao, const QString& table,
                              const QStringList& columns) {
    const QList<LiveColumn> live = liveColumns(conexao, table);
    QStringList nulls;
    for (const QString& c : columns) {
        bool known = false;
        for (const LiveColumn& l : live)
            known = known || sameName(l.name, c);
        if (!known)
            return {}; // a column still to be added: the server judges
        nulls << quoteName(c) + " is null";
    }
    Recordset rs;
    rs.Open("select count(*) from " + quoteName(table) + " where " + nulls.join(" or "), conexao);
    const qint64 n = rs.eof() ? 0 : rs.field(0).toLongLong();
    if (n == 0)
        return {};
    return {QString("Arquivo de atualização recusado: tabela <%1>, a chave primária <%2> teria %3 "
                    "linha(s) com valor nulo. Nenhuma alteração foi feita no banco de dados.")
                .arg(table, columns.join(','))
                .arg(n)};
}

} // namespace

QList<SyncStep> valueChanging(const QList<SyncStep>& plan) {
    QList<SyncStep> out;
    for (const SyncStep& step : plan)
        if (step.kind == SyncStep::Statement &&
            !(step.change == SyncStep::ModifyColumn && step.algorithm == "INSTANT"))
            out << step;
    return out;
}

QString lossText(const ColumnLoss& loss) {
    return QString("a alteração de <%1.%2> de %3 para %4 mudaria ou perderia %5 valor(es) "
                   "guardado(s) (por exemplo %6)")
        .arg(loss.table, loss.column, loss.liveType, loss.newType)
        .arg(loss.rows)
        .arg(loss.example);
}

ValueCheckResult checkValues(Connection& conexao, const QList<SyncStep>& plan,
                             const LostRow& lostRow) {
    // The tables in the order the plan meets them, with their changes and new keys.
    QStringList order;
    QHash<QString, QList<const SyncStep*>> changes, keys;
    QHash<QString, QString> shown;
    for (const SyncStep& step : plan) {
        const bool change = step.change == SyncStep::ModifyColumn;
        const bool key = step.change == SyncStep::AddIndex && step.unique;
        if (!change && !key)
            continue;
        const QString t = foldName(step.table);
        if (!shown.contains(t)) {
            order << t;
            shown.insert(t, step.table);
        }
        (change ? changes : keys)[t] << &step;
    }
    ValueCheckResult result;
    if (order.isEmpty())
        return result;
    // The copy converts without refusing: what it converts is what is judged.
    SessionScope session(conexao);
    session.setMode(SessionScope::Lenient);
    for (const QString& t : order) {
        const QString table = shown.value(t);
        if (!changes.contains(t)) {
            // Nothing converted: duplicates were judged when planning; a new primary key
            // still must not take NULLs, which the server would turn into zeros and blanks.
            for (const SyncStep* key : keys.value(t))
                if (key->indexName == "PRIMARY")
                    result.refusals << nullsInPrimaryKey(conexao, table, key->indexColumns);
            continue;
        }
        TableCheck check(conexao, table, changes.value(t), keys.value(t));
        check.create();
        try {
            const QList<qint64> counts = check.lostCounts();
            const QList<const SyncStep*> tableChanges = changes.value(t);
            for (qsizetype i = 0; i < tableChanges.size(); ++i) {
                if (counts[i] == 0)
                    continue;
                const SyncStep& step = *tableChanges[i];
                ColumnLoss loss{table, step.column, step.liveType, step.newType, counts[i], {}};
                check.lostRows(i, 1, [&](const QStringList& header, const QList<QVariant>& v) {
                    QStringList parts;
                    for (qsizetype f = 0; f + 1 < header.size(); ++f)
                        parts << header[f] + "=" + shortValue(v[f]);
                    loss.example = (parts.isEmpty() ? QString() : parts.join(", ") + ": ") +
                                   step.column + " " + shortValue(v.last());
                });
                if (lostRow)
                    check.lostRows(i, 0, [&](const QStringList& header, const QList<QVariant>& v) {
                        lostRow(loss, header, v);
                    });
                result.losses << loss;
            }
            result.refusals << check.brokenKeys(table);
        } catch (...) {
            check.drop();
            throw;
        }
        check.drop();
    }
    return result;
}

} // namespace krv::database
