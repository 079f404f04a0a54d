#pragma once
// Builds small executables for the version reader's tests with the GNU binutils, a
// toolchain that is not ours: Windows PE images (windres + ld, no code) and ELF objects.
#include <QString>
#include <QStringList>
#include <cstdint>

namespace krv::test {

enum class PeKind { Pe32Plus, Pe32 };

class PeBuilder {
public:
    explicit PeBuilder(const QString& folder) : folder_(folder) {}

    // folder/name linked from a resource script; empty with error() set on failure.
    QString fromScript(const QString& name, const QString& rcScript,
                       PeKind kind = PeKind::Pe32Plus);
    // A PE whose version resource carries this file version (product version 9.9.9.9).
    QString withVersion(const QString& name, std::uint16_t major, std::uint16_t minor,
                        std::uint16_t build, std::uint16_t revision,
                        PeKind kind = PeKind::Pe32Plus);
    // A PE with one data section and no resources at all.
    QString withoutResources(const QString& name);
    // An ELF object whose section ".krv_version" holds these bytes; bfdTarget such as
    // "elf32-i386" or "elf64-big".
    QString elfWithSection(const QString& name, const QString& bfdTarget,
                           const QByteArray& contents);

    const QString& error() const { return error_; }

private:
    bool run(const QString& program, const QStringList& args);
    QString fail(const QString& why);

    QString folder_;
    QString error_;
};

// A resource script's VERSIONINFO block with this file version.
QString versionBlock(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                     std::uint16_t revision);

} // namespace krv::test
