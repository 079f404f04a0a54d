#include "common/delta_file.h"

#include "common/zstd_patch.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtEndian>

namespace krv::delta {

namespace {

// Far more than any archive holds; bounds what a damaged file can ask for.
constexpr quint32 kMaxMembers = 10000;

bool failed(QString* why, const QString& text) {
    if (why)
        *why = text;
    return false;
}

template <typename T> bool put(QFile& out, T value) {
    const T le = qToLittleEndian(value);
    return out.write(reinterpret_cast<const char*>(&le), sizeof le) == sizeof le;
}

template <typename T> bool get(QFile& in, T& value) {
    T le;
    if (in.read(reinterpret_cast<char*>(&le), sizeof le) != sizeof le)
        return false;
    value = qFromLittleEndian(le);
    return true;
}

QByteArray sha256(QFile& f) {
    QCryptographicHash h(QCryptographicHash::Sha256);
    return f.seek(0) && h.addData(&f) && f.seek(0) ? h.result() : QByteArray();
}

// The whole of a file for a frame to refer to, mapped rather than read: the installed module
// may be large, and its pages stay the page cache's.
class Mapped {
public:
    explicit Mapped(const QString& path) : file_(path) {
        ok_ = file_.open(QIODevice::ReadOnly);
        if (ok_ && file_.size() > 0) {
            data_ = file_.map(0, file_.size());
            ok_ = data_ != nullptr;
        }
    }
    bool ok() const { return ok_; }
    QByteArrayView bytes() const {
        return data_ ? QByteArrayView(reinterpret_cast<const char*>(data_), file_.size())
                     : QByteArrayView();
    }

private:
    QFile file_;
    uchar* data_ = nullptr;
    bool ok_ = false;
};

std::optional<How> writeMember(QFile& out, const Source& m, qint64& window, QString* why) {
    QFile in(m.newPath);
    if (!in.open(QIODevice::ReadOnly)) {
        failed(why, m.newPath + ": " + in.errorString());
        return std::nullopt;
    }
    How how = How::Whole;
    std::optional<Mapped> reference;
    if (!m.oldPath.isEmpty()) {
        QFile old(m.oldPath);
        if (!old.open(QIODevice::ReadOnly)) {
            failed(why, m.oldPath + ": " + old.errorString());
            return std::nullopt;
        }
        how = old.size() == in.size() && sha256(old) == sha256(in) ? How::Unchanged : How::Patch;
        if (how == How::Patch)
            reference.emplace(m.oldPath);
        if (reference && !reference->ok()) {
            failed(why, m.oldPath + ": não pôde ser mapeado");
            return std::nullopt;
        }
    }
    const QByteArray name = m.name.toUtf8();
    if (!put<quint16>(out, quint16(name.size())) || out.write(name) != name.size() ||
        !put<quint8>(out, quint8(how))) {
        failed(why, out.errorString());
        return std::nullopt;
    }
    const qint64 lengthAt = out.pos();
    if (!put<quint64>(out, 0)) {
        failed(why, out.errorString());
        return std::nullopt;
    }
    if (how == How::Unchanged)
        return how;
    const QByteArrayView ref = reference ? reference->bytes() : QByteArrayView();
    const int log = zstdpatch::windowLogFor(ref.size(), in.size());
    window = std::max(window, qint64(1) << log);
    if (!zstdpatch::compress(ref, in, in.size(), out, log, why))
        return std::nullopt;
    const qint64 end = out.pos();
    if (!out.seek(lengthAt) || !put<quint64>(out, quint64(end - lengthAt - 8)) || !out.seek(end)) {
        failed(why, out.errorString());
        return std::nullopt;
    }
    return how;
}

bool plainName(const QString& name) {
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\\') && !name.contains(QChar(0));
}

bool copyInto(QFile& in, QFile& out, qint64 maxOutput, QString* why) {
    if (in.size() > maxOutput)
        return failed(why, "o arquivo instalado excede o tamanho esperado");
    char buffer[64 * 1024];
    for (qint64 n; (n = in.read(buffer, sizeof buffer)) > 0;)
        if (out.write(buffer, n) != n)
            return failed(why, out.errorString());
    return in.atEnd() || failed(why, in.errorString());
}

} // namespace

std::optional<Made> make(const QList<Source>& members, const QString& outPath, QString* why) {
    QFile out(outPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        failed(why, outPath + ": " + out.errorString());
        return std::nullopt;
    }
    Made made;
    if (out.write(Magic, 8) != 8 || !put<quint32>(out, quint32(members.size()))) {
        failed(why, out.errorString());
        return std::nullopt;
    }
    for (const Source& m : members) {
        const auto how = writeMember(out, m, made.window, why);
        if (!how)
            return std::nullopt;
        made.hows << *how;
    }
    if (!out.flush()) {
        failed(why, out.errorString());
        return std::nullopt;
    }
    return made;
}

bool apply(const QString& deltaPath, const Rebuild& how, QList<Member>& done, QString* why) {
    QFile in(deltaPath);
    if (!in.open(QIODevice::ReadOnly))
        return failed(why, "o delta não pôde ser lido: " + in.errorString());
    char magic[8];
    quint32 count = 0;
    if (in.read(magic, 8) != 8 || QByteArrayView(magic, 8) != QByteArrayView(Magic, 8) ||
        !get(in, count) || count > kMaxMembers)
        return failed(why, "o arquivo não é um delta");
    int windowLogMax = 10;
    while (windowLogMax < 31 && (qint64(1) << (windowLogMax + 1)) <= how.window)
        ++windowLogMax;
    for (quint32 i = 0; i < count; ++i) {
        quint16 nameSize = 0;
        quint8 kind = 0;
        quint64 length = 0;
        QByteArray rawName;
        if (!get(in, nameSize) || nameSize > 255 ||
            (rawName = in.read(nameSize)).size() != nameSize || !get(in, kind) || kind > 2 ||
            !get(in, length) || length > quint64(in.size() - in.pos()))
            return failed(why, "delta malformado");
        const Member member{QString::fromUtf8(rawName), How(kind)};
        const qint64 expected = how.expectedSize(member.name);
        if (!plainName(member.name) || expected < 0)
            return failed(why, "o delta traz " + member.name + ", que a versão não lista");
        if ((member.how == How::Unchanged) != (length == 0))
            return failed(why, "delta malformado");
        const QString target = how.output(member.name);
        QFile out(target);
        if (target.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return failed(why, "não foi possível gravar " + member.name + ": " + out.errorString());
        done << member;
        bool ok = false;
        QString fault;
        if (member.how == How::Whole) {
            ok = zstdpatch::decompress({}, in, qint64(length), out, windowLogMax, expected, &fault);
        } else {
            QFile installed(how.installed(member.name));
            const Mapped reference(installed.fileName());
            if (!installed.open(QIODevice::ReadOnly) || !reference.ok())
                fault = "o arquivo instalado não pôde ser lido";
            else if (member.how == How::Unchanged)
                ok = copyInto(installed, out, expected, &fault);
            else
                ok = zstdpatch::decompress(reference.bytes(), in, qint64(length), out, windowLogMax,
                                           expected, &fault);
        }
        if (ok && !out.flush())
            fault = out.errorString(), ok = false;
        if (!ok)
            return failed(why, member.name + ": " + fault);
    }
    return in.atEnd() || failed(why, "dados além do último membro do delta");
}

} // namespace krv::delta
