#include "platform/transfer_fault.h"

#include <curl/curl.h>

namespace krv::platform {

namespace {

struct FaultWords {
    TransportFault fault;
    const char* user;  // Portuguese, for the user
    const char* cause; // the download component's English
    bool libraryWords; // the library's own words follow: they name what failed
};

constexpr FaultWords kWords[] = {
    {TransportFault::TimedOut, "tempo esgotado: o servidor deixou de responder", "Timed Out",
     false},
    {TransportFault::Refused, "o servidor não aceitou a conexão", "Connection Failed", false},
    {TransportFault::HostNotFound, "o endereço do servidor não foi encontrado", "Connection Failed",
     false},
    {TransportFault::Reset, "a conexão foi interrompida (conexão reiniciada)", "Connection Reset",
     false},
    {TransportFault::CutShort, "a conexão foi encerrada antes do fim do arquivo",
     "Connection Closed Before The End Of The File", false},
    {TransportFault::NoAnswer, "o servidor encerrou a conexão sem responder", "Connection Failed",
     false},
    {TransportFault::Untrusted, "o certificado do servidor não é confiável",
     "Server Certificate Not Trusted", true},
    {TransportFault::NoCaFile,
     "as autoridades certificadoras para verificar o servidor não puderam ser lidas",
     "Secure Connection Failed", true},
    {TransportFault::TlsFailed, "a conexão segura (HTTPS) com o servidor falhou",
     "Secure Connection Failed", true},
    {TransportFault::Other, "falha de comunicação", "Connection Failed", true},
};

const FaultWords* wordsOf(TransportFault fault) {
    for (const FaultWords& w : kWords)
        if (w.fault == fault)
            return &w;
    return nullptr;
}

} // namespace

TransportFault transportFault(int curlCode) {
    switch (curlCode) {
    case CURLE_OK:
        return TransportFault::None;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK: // the only callback that aborts: stalled or too slow
        return TransportFault::TimedOut;
    case CURLE_COULDNT_CONNECT:
        return TransportFault::Refused;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TransportFault::HostNotFound;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
        return TransportFault::Reset;
    case CURLE_PARTIAL_FILE:
        return TransportFault::CutShort;
    case CURLE_GOT_NOTHING:
        return TransportFault::NoAnswer;
    case CURLE_PEER_FAILED_VERIFICATION: // an unknown authority, an expired or wrong name
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_ISSUER_ERROR:
        return TransportFault::Untrusted;
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CRL_BADFILE:
        return TransportFault::NoCaFile;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return TransportFault::TlsFailed;
    default:
        return TransportFault::Other;
    }
}

bool isTlsFault(TransportFault fault) {
    return fault == TransportFault::Untrusted || fault == TransportFault::NoCaFile ||
           fault == TransportFault::TlsFailed;
}

QString describeFault(TransportFault fault, const QString& detail) {
    const FaultWords* w = wordsOf(fault);
    if (!w)
        return {};
    QString text = QString::fromUtf8(w->user);
    if (w->libraryWords && !detail.isEmpty())
        text += " (" + detail + ")";
    return text;
}

QString faultCause(TransportFault fault) {
    const FaultWords* w = wordsOf(fault);
    return w ? QString::fromLatin1(w->cause) : QString();
}

} // namespace krv::platform
