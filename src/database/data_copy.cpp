#include "database/data_copy.h"

#include "platform/krv_error.h"

#include <QDir>
#include <QRegularExpression>

namespace krv::database {

namespace {

QString safePart(QString name) {
    static const QRegularExpression unsafe("[^A-Za-z0-9_]");
    return name.replace(unsafe, "_");
}

[[noreturn]] void cannotWrite(const QString& path, const QString& why) {
    throw KrvError(err::FileAccess,
                   "Não foi possível gravar a cópia dos valores em " + path + ": " + why);
}

} // namespace

QString csvField(const QVariant& value) {
    if (value.isNull())
        return {};
    QString text = value.toString();
    static const QRegularExpression special("[\",\r\n]");
    if (!text.isEmpty() && !text.contains(special))
        return text;
    return "\"" + text.replace("\"", "\"\"") + "\"";
}

DataCopy::DataCopy(const QString& folder, const QString& stamp, const QString& table,
                   const QString& column) {
    if (!QDir().mkpath(folder))
        cannotWrite(folder, "a pasta não pôde ser criada");
    const QString base =
        folder + "/dados-" + stamp + "-" + safePart(table) + "-" + safePart(column);
    path_ = base + ".csv";
    for (int n = 2; QFile::exists(path_); ++n)
        path_ = base + "-" + QString::number(n) + ".csv";
    file_.setFileName(path_);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        cannotWrite(path_, file_.errorString());
}

void DataCopy::row(const QList<QVariant>& values) {
    QStringList fields;
    for (const QVariant& v : values)
        fields << csvField(v);
    const QByteArray line = fields.join(',').toUtf8() + "\r\n";
    if (file_.write(line) != line.size())
        cannotWrite(path_, file_.errorString());
}

void DataCopy::finish() {
    if (!file_.flush() || file_.error() != QFileDevice::NoError)
        cannotWrite(path_, file_.errorString());
    file_.close();
}

} // namespace krv::database
