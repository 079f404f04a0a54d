#include "common/zstd_patch.h"

#include <QIODevice>
#include <memory>
#include <vector>
#include <zstd.h>

namespace krv::zstdpatch {

namespace {

constexpr int kLevel = 19;

struct CCtxFree {
    void operator()(ZSTD_CCtx* c) const { ZSTD_freeCCtx(c); }
};
struct DCtxFree {
    void operator()(ZSTD_DCtx* d) const { ZSTD_freeDCtx(d); }
};

bool failed(QString* why, const QString& text) {
    if (why)
        *why = text;
    return false;
}

bool zstdFailed(size_t code, QString* why) {
    return ZSTD_isError(code) ? !failed(why, QString::fromUtf8(ZSTD_getErrorName(code))) : false;
}

bool writeAll(QIODevice& out, const char* data, size_t size, QString* why) {
    if (size > 0 && out.write(data, qint64(size)) != qint64(size))
        return failed(why, out.errorString());
    return true;
}

} // namespace

int windowLogFor(qint64 referenceSize, qint64 contentSize) {
    const qint64 reach = std::max<qint64>(referenceSize + contentSize, 1);
    int log = 10; // zstd's smallest window
    while (log < 31 && (qint64(1) << log) < reach)
        ++log;
    return log;
}

bool compress(QByteArrayView reference, QIODevice& in, qint64 size, QIODevice& out, int windowLog,
              QString* why) {
    std::unique_ptr<ZSTD_CCtx, CCtxFree> c(ZSTD_createCCtx());
    if (!c)
        return failed(why, "zstd: sem memória");
    const std::pair<ZSTD_cParameter, int> params[] = {
        {ZSTD_c_compressionLevel, kLevel}, {ZSTD_c_enableLongDistanceMatching, 1},
        {ZSTD_c_windowLog, windowLog},     {ZSTD_c_checksumFlag, 1},
        {ZSTD_c_contentSizeFlag, 1},
    };
    for (const auto& [param, value] : params)
        if (zstdFailed(ZSTD_CCtx_setParameter(c.get(), param, value), why))
            return false;
    // The size in the frame's header lets the decoder size its buffer to the file, not the window.
    if (zstdFailed(ZSTD_CCtx_setPledgedSrcSize(c.get(), static_cast<unsigned long long>(size)),
                   why))
        return false;
    if (!reference.isEmpty() &&
        zstdFailed(ZSTD_CCtx_refPrefix(c.get(), reference.data(), size_t(reference.size())), why))
        return false;
    std::vector<char> inBuf(ZSTD_CStreamInSize()), outBuf(ZSTD_CStreamOutSize());
    qint64 left = size;
    for (;;) {
        const qint64 n = left > 0 ? in.read(inBuf.data(), std::min<qint64>(left, inBuf.size())) : 0;
        if (n < 0 || (n == 0 && left > 0))
            return failed(why, "leitura interrompida: " + in.errorString());
        left -= n;
        const ZSTD_EndDirective mode = left == 0 ? ZSTD_e_end : ZSTD_e_continue;
        ZSTD_inBuffer input{inBuf.data(), size_t(n), 0};
        bool finished = false;
        while (!finished) {
            ZSTD_outBuffer output{outBuf.data(), outBuf.size(), 0};
            const size_t remaining = ZSTD_compressStream2(c.get(), &output, &input, mode);
            if (zstdFailed(remaining, why) || !writeAll(out, outBuf.data(), output.pos, why))
                return false;
            finished = mode == ZSTD_e_end ? remaining == 0 : input.pos == input.size;
        }
        if (mode == ZSTD_e_end)
            return true;
    }
}

bool decompress(QByteArrayView reference, QIODevice& in, qint64 frameSize, QIODevice& out,
                int windowLogMax, qint64 maxOutput, QString* why) {
    std::unique_ptr<ZSTD_DCtx, DCtxFree> d(ZSTD_createDCtx());
    if (!d)
        return failed(why, "zstd: sem memória");
    if (zstdFailed(ZSTD_DCtx_setParameter(d.get(), ZSTD_d_windowLogMax, windowLogMax), why))
        return false;
    if (!reference.isEmpty() &&
        zstdFailed(ZSTD_DCtx_refPrefix(d.get(), reference.data(), size_t(reference.size())), why))
        return false;
    std::vector<char> inBuf(ZSTD_DStreamInSize()), outBuf(ZSTD_DStreamOutSize());
    qint64 left = frameSize, written = 0;
    size_t hint = 1; // 0 once the frame is whole and checked
    while (left > 0) {
        const qint64 n = in.read(inBuf.data(), std::min<qint64>(left, inBuf.size()));
        if (n <= 0)
            return failed(why, "delta truncado");
        left -= n;
        ZSTD_inBuffer input{inBuf.data(), size_t(n), 0};
        while (input.pos < input.size) {
            if (hint == 0)
                return failed(why, "dados além do fim do quadro zstd");
            ZSTD_outBuffer output{outBuf.data(), outBuf.size(), 0};
            hint = ZSTD_decompressStream(d.get(), &output, &input);
            if (zstdFailed(hint, why))
                return false;
            written += qint64(output.pos);
            if (written > maxOutput)
                return failed(why, "o arquivo reconstruído excede o tamanho esperado");
            if (!writeAll(out, outBuf.data(), output.pos, why))
                return false;
        }
    }
    // Output still held inside the decoder comes out with no more input.
    while (hint != 0) {
        ZSTD_inBuffer input{nullptr, 0, 0};
        ZSTD_outBuffer output{outBuf.data(), outBuf.size(), 0};
        hint = ZSTD_decompressStream(d.get(), &output, &input);
        if (zstdFailed(hint, why))
            return false;
        if (output.pos == 0 && hint != 0)
            return failed(why, "quadro zstd incompleto");
        written += qint64(output.pos);
        if (written > maxOutput)
            return failed(why, "o arquivo reconstruído excede o tamanho esperado");
        if (!writeAll(out, outBuf.data(), output.pos, why))
            return false;
    }
    return true;
}

} // namespace krv::zstdpatch
