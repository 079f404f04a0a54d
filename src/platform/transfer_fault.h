#pragma once
// Why a transfer ended without its answer, and the one table that names each reason: in
// Portuguese for the user, in the download component's English for its status.
#include <QString>

namespace krv::platform {

enum class TransportFault {
    None,
    TimedOut,     // nothing came for too long, or connecting took too long
    Refused,      // nothing listens there, or the host cannot be reached
    HostNotFound, // the server's name does not resolve
    Reset,        // the connection was cut by the other side or the network
    CutShort,     // the answer ended before the length it announced
    NoAnswer,     // the server closed the connection without answering
    Untrusted,    // HTTPS: the server's certificate (or its name in it) failed verification
    NoCaFile,     // HTTPS: the certificate authorities to verify against could not be read
    TlsFailed,    // HTTPS: the secure connection could not be set up
    Other,
};

// A libcurl result code as a fault.
TransportFault transportFault(int curlCode);
// A fault of the secure connection: retrying or another password cannot mend it.
bool isTlsFault(TransportFault fault);
// The fault as a user reads it (Portuguese), with the library's own words for Other and the
// secure connection's faults.
QString describeFault(TransportFault fault, const QString& detail = {});
// The fault as the download component's status names it ("Timed Out"); empty for None.
QString faultCause(TransportFault fault);

} // namespace krv::platform
