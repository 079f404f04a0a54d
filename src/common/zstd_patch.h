#pragma once
// One zstd frame made against a reference: the installed file as a prefix the frame may copy
// from (the form of zstd's --patch-from), so that a new build of a program costs only what
// changed. Both ways stream the new bytes; only the reference is mapped whole.
#include <QByteArrayView>
#include <QString>

class QIODevice;

namespace krv::zstdpatch {

// The window a frame needs to reach back over its reference and itself, as a power of two:
// at least 2^10, at most 2^31.
int windowLogFor(qint64 referenceSize, qint64 contentSize);

// Compresses size bytes read from in into one frame on out, against reference (empty: none),
// at level 19 with long-distance matching and the content checksum on. false with why when
// reading, writing or zstd fails.
bool compress(QByteArrayView reference, QIODevice& in, qint64 size, QIODevice& out, int windowLog,
              QString* why);

// Decompresses the frame of frameSize bytes read from in onto out, against the same reference.
// The frame may ask for a window of at most 2^windowLogMax (else refused before its memory is
// taken) and may give at most maxOutput bytes. false with why on anything but one whole,
// checksummed frame.
bool decompress(QByteArrayView reference, QIODevice& in, qint64 frameSize, QIODevice& out,
                int windowLogMax, qint64 maxOutput, QString* why);

} // namespace krv::zstdpatch
