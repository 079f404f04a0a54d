// The install layout and the two Debian packages, built once by scripts/package from this
// build and read back with dpkg-deb, dpkg -x and lintian.
#include "build_info.h"
#include "common/file_version.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <iostream>

using namespace krv;

namespace {

struct Command {
    int exitCode = -1;
    QString output; // standard output and error together
};

Command run(const QString& program, const QStringList& arguments,
            const QMap<QString, QString>& env = {}) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    auto environment = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        environment.insert(it.key(), it.value());
    p.setProcessEnvironment(environment);
    p.start(program, arguments);
    Command c;
    if (!p.waitForStarted()) {
        c.output = program + ": " + p.errorString();
        return c;
    }
    p.waitForFinished(-1);
    c.output = QString::fromUtf8(p.readAll());
    c.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return c;
}

QSet<QString> listOf(const char* joined) {
    QSet<QString> s;
    for (const QString& item : QString(joined).split(',', Qt::SkipEmptyParts))
        s.insert(item);
    return s;
}

QString packageVersion() {
    return QString("%1.%2.%3-1").arg(build::major).arg(build::minor).arg(build::revision);
}

// Every file below a folder, as paths relative to it.
QSet<QString> filesBelow(const QString& root) {
    QSet<QString> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.insert(QDir(root).relativeFilePath(it.next()));
    return files;
}

QString manPage(const QString& program) {
    return "./usr/share/man/man1/" + program + ".1.gz";
}

struct PackageCase {
    QString name;
    QSet<QString> files;         // every regular file, as dpkg-deb lists it
    QSet<QString> executables;   // those of them with mode 0755
    QStringList requiredDepends; // package names that must appear in Depends
    QStringList manPages;        // programs with a page in section 1
};

QList<PackageCase> packageCases() {
    QSet<QString> assistant{"./opt/krv/zelvor",
                            "./opt/krv/movrin",
                            "./usr/share/applications/krv-zelvor.desktop",
                            "./usr/share/icons/hicolor/scalable/apps/krv-zelvor.svg",
                            "./usr/share/doc/krv-zelvor/copyright",
                            "./usr/share/doc/krv-zelvor/changelog.Debian.gz",
                            "./usr/share/lintian/overrides/krv-zelvor"};
    for (const QString& unit : listOf(KRV_PACKAGE_UNITS))
        assistant.insert("./lib/systemd/system/" + unit);
    const QStringList assistantPages{"zelvor", "movrin"};
    const QStringList toolPages = listOf(KRV_PACKAGE_TOOLS).values();
    for (const QString& page : assistantPages)
        assistant.insert(manPage(page));
    QSet<QString> tools{"./usr/share/doc/krv-update-tools/copyright",
                        "./usr/share/doc/krv-update-tools/changelog.Debian.gz"};
    QSet<QString> toolPrograms;
    for (const QString& tool : listOf(KRV_PACKAGE_TOOLS))
        toolPrograms.insert("./usr/bin/" + tool);
    tools += toolPrograms;
    for (const QString& page : toolPages)
        tools.insert(manPage(page));
    // The run-time libraries each package's programs link, and the Qt MySQL driver, which
    // is loaded at run time and so named by hand.
    return {
        {"krv-zelvor",
         assistant,
         {"./opt/krv/zelvor", "./opt/krv/movrin"},
         {"libc6", "libqt6widgets6", "libqt6printsupport6", "libqt6sql6", "libqt6sql6-mysql",
          "libcurl4", "libxml2", "libzip4", "libsqlite3-0", "libmdb3"},
         assistantPages},
        {"krv-update-tools",
         tools,
         toolPrograms,
         {"libc6", "libqt6sql6", "libqt6sql6-mysql", "libsqlite3-0", "libmdb3"},
         toolPages},
    };
}

class Packages : public testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new QTemporaryDir;
        arch_ = new QString(run("dpkg", {"--print-architecture"}).output.trimmed());
        made_ = new Command(run(KRV_SOURCE_DIR "/scripts/package",
                                {"--no-build", dir_->filePath("packages")},
                                {{"BUILD_DIR", KRV_BINARY_DIR}}));
    }
    static void TearDownTestSuite() {
        delete made_;
        delete arch_;
        delete dir_;
    }
    void SetUp() override { ASSERT_EQ(made_->exitCode, 0) << made_->output.toStdString(); }

    static const QString& arch() { return *arch_; }
    static QString deb(const QString& name) {
        return dir_->filePath("packages/" + name + "_" + packageVersion() + "_" + arch() + ".deb");
    }
    static QString scratch(const QString& name) { return dir_->filePath(name); }

private:
    static inline QTemporaryDir* dir_ = nullptr;
    static inline QString* arch_ = nullptr;
    static inline Command* made_ = nullptr;
};

TEST_F(Packages, HoldExactlyTheirFilesOwnedByRootWithTheirModes) {
    for (const PackageCase& c : packageCases()) {
        SCOPED_TRACE(c.name.toStdString());
        const Command listing = run("dpkg-deb", {"--contents", deb(c.name)});
        ASSERT_EQ(listing.exitCode, 0) << listing.output.toStdString();
        QSet<QString> files;
        for (const QString& line : listing.output.split('\n', Qt::SkipEmptyParts)) {
            // -rwxr-xr-x root/root 123 2026-01-01 00:00 ./opt/krv/zelvor
            const QStringList f = line.split(' ', Qt::SkipEmptyParts);
            ASSERT_GE(f.size(), 6) << line.toStdString();
            const QString path = f.last();
            EXPECT_EQ(f[1], "root/root") << path.toStdString();
            if (!f[0].startsWith('-'))
                continue;
            files.insert(path);
            EXPECT_EQ(f[0], c.executables.contains(path) ? "-rwxr-xr-x" : "-rw-r--r--")
                << path.toStdString();
        }
        EXPECT_EQ(files, c.files);
    }
}

TEST_F(Packages, CarryTheProjectVersionAndTheRunTimeLibraries) {
    for (const PackageCase& c : packageCases()) {
        SCOPED_TRACE(c.name.toStdString());
        const Command fields =
            run("dpkg-deb", {"--field", deb(c.name), "Package", "Version", "Architecture"});
        ASSERT_EQ(fields.exitCode, 0) << fields.output.toStdString();
        EXPECT_EQ(fields.output.trimmed().split('\n'),
                  QStringList({"Package: " + c.name, "Version: " + packageVersion(),
                               "Architecture: " + arch()}));
        const Command depends = run("dpkg-deb", {"--field", deb(c.name), "Depends"});
        QSet<QString> names;
        for (const QString& alternative : depends.output.split(QRegularExpression("[,|]")))
            names.insert(alternative.trimmed().section(' ', 0, 0));
        for (const QString& required : c.requiredDepends)
            EXPECT_TRUE(names.contains(required))
                << required.toStdString() << " missing from " << depends.output.toStdString();
    }
}

TEST_F(Packages, UnpackedAssistantCarriesTheVersionAndAMenuEntryThatStartsIt) {
    const QString root = scratch("root");
    const Command unpack = run("dpkg", {"-x", deb("krv-zelvor"), root});
    ASSERT_EQ(unpack.exitCode, 0) << unpack.output.toStdString();

    const QString expected = QString("%1.%2.%3")
                                 .arg(build::major, 2, 10, QChar('0'))
                                 .arg(build::minor, 2, 10, QChar('0'))
                                 .arg(build::revision, 2, 10, QChar('0'));
    for (const QString program : {"zelvor", "movrin"}) {
        const auto info = readFixedFileInfo(root + "/opt/krv/" + program);
        ASSERT_TRUE(info.has_value()) << program.toStdString() << " lost its version record";
        EXPECT_EQ(formatFileVersion(*info), expected) << program.toStdString();
    }

    QFile entry(root + "/usr/share/applications/krv-zelvor.desktop");
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    QMap<QString, QString> keys;
    for (const QString& line : QString::fromUtf8(entry.readAll()).split('\n'))
        if (line.contains('='))
            keys.insert(line.section('=', 0, 0), line.section('=', 1));
    EXPECT_EQ(keys.value("Exec"), "/opt/krv/zelvor");
    EXPECT_TRUE(QFileInfo(root + keys.value("Exec")).isExecutable());
    EXPECT_TRUE(QFile::exists(root + "/usr/share/icons/hicolor/scalable/apps/" +
                              keys.value("Icon") + ".svg"));
    EXPECT_EQ(keys.value("Name"), "Assistente de atualização KRV");
}

TEST_F(Packages, ShipAGzippedManualPageOfEachProgram) {
    for (const PackageCase& c : packageCases()) {
        SCOPED_TRACE(c.name.toStdString());
        const QString root = scratch(c.name + "-pages");
        const Command unpack = run("dpkg", {"-x", deb(c.name), root});
        ASSERT_EQ(unpack.exitCode, 0) << unpack.output.toStdString();
        for (const QString& program : c.manPages) {
            const Command page = run("gzip", {"-dc", root + "/" + manPage(program)});
            ASSERT_EQ(page.exitCode, 0) << page.output.toStdString();
            // The page of this program, in section 1, of this build's version.
            const QRegularExpression title(
                QString("^\\.TH \"?%1\"? \"?1\"? .*%2 %3")
                    .arg(program.toUpper(), program, packageVersion().section('-', 0, 0)),
                QRegularExpression::MultilineOption);
            EXPECT_TRUE(title.match(page.output).hasMatch()) << program.toStdString() << ":\n"
                                                             << page.output.left(300).toStdString();
            EXPECT_TRUE(page.output.contains("\n" + program + " \\- "))
                << program.toStdString() << " has no NAME line";
        }
    }
}

// One lintian run for both: its start-up is most of its time.
TEST_F(Packages, LintianFindsNoErrors) {
    const Command lint =
        run("lintian", {"--tag-display-limit", "0", deb("krv-zelvor"), deb("krv-update-tools")});
    for (const QString& line : lint.output.split('\n', Qt::SkipEmptyParts)) {
        EXPECT_FALSE(line.startsWith("E:")) << line.toStdString();
        EXPECT_FALSE(line.contains("no-manual-page")) << line.toStdString();
        std::cout << "lintian: " << line.toStdString() << "\n";
    }
    EXPECT_EQ(lint.exitCode, 0) << lint.output.toStdString();
}

struct InstallCase {
    const char* name;
    QStringList extraArguments;
    QSet<QString> files;
};

TEST(InstallLayout, EachComponentLaysOutExactlyItsFiles) {
    QSet<QString> tools;
    for (const QString& tool : listOf(KRV_PACKAGE_TOOLS))
        tools.insert("bin/" + tool);
    const QList<InstallCase> cases{
        // The suite folder: the two programs side by side and nothing else of ours.
        {"suite folder", {}, {"zelvor", "movrin"}},
        {"assistant component", {"--component", "assistant"}, {"zelvor", "movrin"}},
        {"tools component", {"--component", "tools"}, tools},
    };
    QTemporaryDir dir;
    for (const InstallCase& c : cases) {
        SCOPED_TRACE(c.name);
        const QString prefix = dir.filePath(c.name);
        const Command install =
            run("cmake",
                QStringList{"--install", KRV_BINARY_DIR, "--prefix", prefix} + c.extraArguments);
        ASSERT_EQ(install.exitCode, 0) << install.output.toStdString();
        EXPECT_EQ(filesBelow(prefix), c.files);
        for (const QString& file : c.files)
            EXPECT_TRUE(QFileInfo(prefix + "/" + file).isExecutable()) << file.toStdString();
    }
}

} // namespace
