#include "platform/http_get.h"

#include "platform/transfer_policy.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <curl/curl.h>
#include <memory>

namespace krv::platform {

namespace {

struct Receiving {
    QByteArray body;
    QByteArray statusLine;
    qint64 limit = 0;
    bool tooLarge = false;
    RateWatch rate;
    QElapsedTimer clock;
};

int onProgress(void* user, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
    auto* r = static_cast<Receiving*>(user);
    return r->rate.tooSlow(r->clock.elapsed(), qint64(received)) ? 1 : 0;
}

size_t appendBody(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Receiving*>(user);
    const size_t n = size * count;
    if (r->body.size() + qint64(n) > r->limit) {
        r->tooLarge = true;
        r->body.clear();
        return 0; // abandons the transfer: nothing more is read
    }
    r->body.append(data, qsizetype(n));
    return n;
}

size_t onHeader(char* data, size_t size, size_t count, void* user) {
    auto* r = static_cast<Receiving*>(user);
    const QByteArray line(data, qsizetype(size * count));
    if (line.startsWith("HTTP/")) {
        r->statusLine = line.trimmed();
        r->body.clear(); // an interim or redirected answer's body is not the answer
    }
    return size * count;
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

} // namespace

TransportFault transportFault(int curlCode) {
    switch (curlCode) {
    case CURLE_OK:
        return TransportFault::None;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK: // the only callback that aborts: the rate floor
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
    const QString words = detail.isEmpty() ? QString() : " (" + detail + ")";
    switch (fault) {
    case TransportFault::None:
        return {};
    case TransportFault::TimedOut:
        return "tempo esgotado: o servidor deixou de responder";
    case TransportFault::Refused:
        return "o servidor não aceitou a conexão";
    case TransportFault::HostNotFound:
        return "o endereço do servidor não foi encontrado";
    case TransportFault::Reset:
        return "a conexão foi interrompida (conexão reiniciada)";
    case TransportFault::CutShort:
        return "a conexão foi encerrada antes do fim do arquivo";
    case TransportFault::NoAnswer:
        return "o servidor encerrou a conexão sem responder";
    case TransportFault::Untrusted:
        return "o certificado do servidor não é confiável" + words;
    case TransportFault::NoCaFile:
        return "as autoridades certificadoras para verificar o servidor não puderam ser lidas" +
               words;
    case TransportFault::TlsFailed:
        return "a conexão segura (HTTPS) com o servidor falhou" + words;
    case TransportFault::Other:
        break;
    }
    return "falha de comunicação" + words;
}

HttpAnswer httpRequest(const QString& url, const HttpGetOptions& options) {
    HttpAnswer answer;
    auto transportFailure = [&answer](CURLcode code, const QString& detail) {
        answer.failure = HttpAnswer::Failure::Transport;
        answer.fault = transportFault(code);
        answer.detail = detail.isEmpty() ? QString::fromLatin1(curl_easy_strerror(code)) : detail;
        answer.body.clear();
        return answer;
    };
    if (!initTransfers())
        return transportFailure(CURLE_FAILED_INIT, {});
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        return transportFailure(CURLE_FAILED_INIT, {});

    Receiving r;
    r.limit = options.maxBodyBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    CURL* c = easy.get();
    TransferSetup setup;
    setup.url = url.toUtf8();
    setup.port = options.remotePort;
    setup.connectTimeoutSeconds = options.connectTimeoutSeconds;
    setup.stallSeconds = options.lowSpeedSeconds;
    setup.direct = true;
    setup.http11 = false;
    setup.receiveBufferBytes = 0;
    setup.maxBodyBytes = options.maxBodyBytes;
    setUpTransfer(c, setup, errorBuffer);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &r);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &r);
    r.clock.start();
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &r);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);

    // Driven through a multi handle so the caller's event loop runs between short polls.
    CURLM* m = multi.get();
    if (curl_multi_add_handle(m, c) != CURLM_OK)
        return transportFailure(CURLE_FAILED_INIT, {});
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(m, &running) != CURLM_OK) {
            result = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(m, &left))
                if (msg->msg == CURLMSG_DONE)
                    result = msg->data.result;
            break;
        }
        curl_multi_poll(m, nullptr, 0, 50, nullptr);
        if (options.whileWaiting)
            options.whileWaiting();
    }
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    curl_multi_remove_handle(m, c);
    answer.status = int(status);
    answer.statusLine = QString::fromLatin1(r.statusLine);
    if (r.tooLarge || result == CURLE_FILESIZE_EXCEEDED) {
        answer.failure = HttpAnswer::Failure::TooLarge;
        return answer;
    }
    if (result != CURLE_OK)
        return transportFailure(result, QString::fromLocal8Bit(errorBuffer));
    if (status != 200) {
        answer.failure = HttpAnswer::Failure::Status;
        return answer;
    }
    answer.body = std::move(r.body);
    return answer;
}

QByteArray httpGet(const QString& url, const HttpGetOptions& options) {
    return httpRequest(url, options).body;
}

} // namespace krv::platform
