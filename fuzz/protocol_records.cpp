// An update-server answer body, decoded as the transfer control decodes it, read as the
// version list and the history are read and checked as the login checks it.
#include "common/text.h"
#include "download/protocol.h"
#include "scratch_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace krv;
    const QString body =
        text::decodeLegacy(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const protocol::XmlAnswer answer = protocol::readRecords(body);
    if (answer.wellFormed != protocol::isWellFormed(body))
        fuzz::fail("readRecords and isWellFormed disagree");
    if (!answer.wellFormed && !answer.records.isEmpty())
        fuzz::fail("records from a malformed answer");
    for (const protocol::Record& r : answer.records) {
        if (r.fields.size() > 3)
            fuzz::fail("a record with more than three fields");
        (void)r.field(3);
    }
    return 0;
}
