#include "end_to_end.h"

#include "common/release_manifest.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

namespace krv::test {

namespace {
QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

void expectCleanEnd(const RunResult& r, int code) {
    const std::string shown = r.transcriptText().toStdString();
    EXPECT_FALSE(r.timedOut) << shown;
    EXPECT_FALSE(r.crashed) << shown;
    EXPECT_TRUE(r.of("error").isEmpty()) << shown;
    EXPECT_EQ(r.exitCode, code) << shown;
}

QList<QJsonObject> updateRecords(const QString& suiteFolder) {
    QList<QJsonObject> out;
    const QDir dir(suiteFolder + "/atualizacoes");
    for (const QString& name : dir.entryList({"*.json"}, QDir::Files, QDir::Name))
        out << QJsonDocument::fromJson(contentOf(dir.filePath(name))).object();
    return out;
}

QStringList updateLogLines(const QString& suiteFolder) {
    return QString::fromUtf8(contentOf(suiteFolder + "/atualizacoes/atualizacoes.log"))
        .split('\n', Qt::SkipEmptyParts);
}

void expectHandedOver(const RunResult& r, const QString& suiteFolder, const QString& archive,
                      const QString& servedCopy) {
    const auto started = r.of("run");
    ASSERT_EQ(started.size(), 1) << r.transcriptText().toStdString();
    EXPECT_EQ(started[0].fields, QStringList({suiteFolder + "/movrin", "-/update/" + archive,
                                              krv::manifest::fileSha256(servedCopy)}));
}

QString installAssistant(const QString& folder) {
    const QString zelvor = folder + "/zelvor";
    for (const auto& [from, to] :
         {std::pair{zelvorBinary(), zelvor}, {movrinBinary(), folder + "/movrin"}}) {
        EXPECT_TRUE(QFile::copy(from, to)) << to.toStdString();
        QFile::setPermissions(to, QFile::permissions(from));
    }
    return zelvor;
}

QString directoryScript(const QString& folder) {
    return "click frmSel.SSCommand2\ntype frmDir.txtDir " + folder + "\nclick frmDir.cmdOK\n";
}

RunResult EndToEnd::run(const QString& script, const char* pausePoint, const QStringList& arguments,
                        int timeoutSeconds) const {
    RunOptions o = suite.options(script, timeoutSeconds);
    o.arguments = arguments;
    if (pausePoint) {
        o.env["ZELVOR_TEST_PAUSE"] = pausePoint;
        o.killAtPause = true;
    }
    return runProgram(zelvorBinary(), o);
}

RunResult EndToEnd::runDirectory(const QString& folder, const char* pausePoint,
                                 int timeoutSeconds) const {
    return run(directoryScript(folder), pausePoint, {}, timeoutSeconds);
}

} // namespace krv::test
