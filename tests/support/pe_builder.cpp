#include "pe_builder.h"

#include <QFile>
#include <QProcess>

namespace krv::test {

namespace {
const QString kTools = "x86_64-w64-mingw32-";

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
} // namespace

QString versionBlock(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                     std::uint16_t revision) {
    return QString("1 VERSIONINFO\n"
                   "FILEVERSION %1,%2,%3,%4\n"
                   "PRODUCTVERSION 9,9,9,9\n"
                   "FILEOS 0x40004\n"
                   "FILETYPE 1\n"
                   "BEGIN\n"
                   "  BLOCK \"StringFileInfo\"\n"
                   "  BEGIN\n"
                   "    BLOCK \"041604B0\"\n"
                   "    BEGIN\n"
                   "      VALUE \"FileVersion\", \"%1.%2.%3.%4\"\n"
                   "    END\n"
                   "  END\n"
                   "  BLOCK \"VarFileInfo\"\n"
                   "  BEGIN\n"
                   "    VALUE \"Translation\", 0x416, 1200\n"
                   "  END\n"
                   "END\n")
        .arg(major)
        .arg(minor)
        .arg(build)
        .arg(revision);
}

QString PeBuilder::fail(const QString& why) {
    error_ = why;
    return {};
}

bool PeBuilder::run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error_ = program + " " + args.join(' ') + ": " + p.errorString() + "\n" +
                 QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

QString PeBuilder::fromScript(const QString& name, const QString& rcScript, PeKind kind) {
    const QString out = folder_ + "/" + name;
    const QString base = out + ".build";
    if (!writeFile(base + ".rc", rcScript.toUtf8()))
        return fail("cannot write " + base + ".rc");
    // No MinGW compiler here: the host's preprocessor does for the resource script.
    if (!run(kTools + "windres",
             {"--preprocessor=cpp", "-O", "coff", base + ".rc", "-o", base + ".res.o"}))
        return {};
    // ld has no 32-bit scripts in this package: link 64-bit, then let objcopy rewrite the
    // image as PE32.
    const QString linked = kind == PeKind::Pe32 ? base + ".pe64" : out;
    if (!run(kTools + "ld", {"--entry=0", "-o", linked, base + ".res.o"}))
        return {};
    if (kind == PeKind::Pe32 && !run(kTools + "objcopy", {"-O", "pei-i386", linked, out}))
        return {};
    return out;
}

QString PeBuilder::withVersion(const QString& name, std::uint16_t major, std::uint16_t minor,
                               std::uint16_t build, std::uint16_t revision, PeKind kind) {
    return fromScript(name, versionBlock(major, minor, build, revision), kind);
}

QString PeBuilder::withoutResources(const QString& name) {
    const QString out = folder_ + "/" + name;
    const QString base = out + ".build";
    if (!writeFile(base + ".bin", "payload"))
        return fail("cannot write " + base + ".bin");
    if (!run(kTools + "objcopy",
             {"-I", "binary", "-O", "pe-x86-64", "-B", "i386:x86-64", base + ".bin", base + ".o"}))
        return {};
    if (!run(kTools + "ld", {"--entry=0", "-o", out, base + ".o"}))
        return {};
    return out;
}

QString PeBuilder::elfWithSection(const QString& name, const QString& bfdTarget,
                                  const QByteArray& contents) {
    const QString out = folder_ + "/" + name;
    if (!writeFile(out + ".bin", contents))
        return fail("cannot write " + out + ".bin");
    if (!run("objcopy", {"-I", "binary", "-O", bfdTarget, "--rename-section", ".data=.krv_version",
                         out + ".bin", out}))
        return {};
    return out;
}

} // namespace krv::test
