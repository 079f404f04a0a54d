#include "platform/inet_transfer.h"

#include "platform/program.h"
#include "platform/transfer_policy.h"

#include <QElapsedTimer>
#include <QList>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace krv::platform {

namespace {

int connectTimeout = 20;
int stallTimeout = 30;

// While the body waits for a reader, the event loop gets a turn this often.
constexpr int WaitSliceMs = 50;
// A wait for headers returns to its caller (who yields) at least this often.
constexpr int HeaderSliceMs = 10;

} // namespace

struct InetTransfer::Impl {
    QString url;
    int port = 0;
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* requestHeaders = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    bool attached = false;    // the easy handle is in the multi handle
    bool headersDone = false; // the final answer's header block is complete
    bool done = false;        // the transfer has ended, well or not
    bool answer = false;      // a request was executed and not cancelled
    CURLcode result = CURLE_OK;
    QByteArray headerLines; // lines of the current answer, each with its line end

    // Body bytes from readPos to writePos; compacted when the tail runs out.
    std::vector<char> buffer;
    size_t readPos = 0, writePos = 0;
    bool paused = false;
    size_t wanted = 0; // size of the chunk being waited for
    RateWatch rate;
    QElapsedTimer clock;

    static int onProgress(void* self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
        auto* d = static_cast<Impl*>(self);
        // Held back by our own full buffer (a reader paused by the user): not the server's fault.
        if (d->paused) {
            d->rate.restart();
            return 0;
        }
        return d->rate.tooSlow(d->clock.elapsed(), qint64(received)) ? 1 : 0;
    }

    size_t available() const { return writePos - readPos; }
    // Held back beyond this, with room for one more delivery of the chunk being waited for.
    size_t limit() const { return std::max(size_t(BufferCapacity), wanted + CURL_MAX_WRITE_SIZE); }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* d = static_cast<Impl*>(self);
        const size_t n = size * count;
        const QByteArray line(data, qsizetype(n));
        if (line.startsWith("HTTP/")) {
            d->headerLines.clear();
            d->headersDone = false;
        }
        if (line == "\r\n" || line == "\n") {
            // An interim answer (100 Continue) is followed by the real one.
            const QByteArray code = d->headerLines.mid(9, 3);
            if (!code.startsWith('1'))
                d->headersDone = true;
            return n;
        }
        d->headerLines += line;
        return n;
    }

    static size_t onBody(char* data, size_t size, size_t count, void* self) {
        auto* d = static_cast<Impl*>(self);
        const size_t n = size * count;
        if (n == 0)
            return 0;
        if (d->available() > 0 && d->available() + n > d->limit()) {
            d->paused = true;
            return CURL_WRITEFUNC_PAUSE;
        }
        if (d->writePos + n > d->buffer.size()) {
            const size_t held = d->available();
            std::memmove(d->buffer.data(), d->buffer.data() + d->readPos, held);
            d->readPos = 0;
            d->writePos = held;
            if (held + n > d->buffer.size())
                d->buffer.resize(std::max(held + n, d->buffer.size() * 2));
        }
        std::memcpy(d->buffer.data() + d->writePos, data, n);
        d->writePos += n;
        return n;
    }

    void collectEnded() {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                done = true;
                result = msg->data.result;
                if (!headersDone)
                    answer = false;
            }
        }
    }

    // Moves the transfer on; waits up to waitMs for network activity when nothing is ready.
    void step(int waitMs) {
        if (!attached || done)
            return;
        int running = 0;
        curl_multi_perform(multi, &running);
        collectEnded();
        if (done || waitMs <= 0)
            return;
        curl_multi_poll(multi, nullptr, 0, waitMs, nullptr);
        curl_multi_perform(multi, &running);
        collectEnded();
    }

    void detach() {
        if (attached)
            curl_multi_remove_handle(multi, easy);
        attached = false;
        paused = false;
    }

    void clearBody() {
        readPos = writePos = 0;
        buffer.assign(size_t(BufferCapacity), 0);
        buffer.shrink_to_fit();
    }
};

InetTransfer::InetTransfer() : d(std::make_unique<Impl>()) {
    initTransfers();
    d->multi = curl_multi_init();
    d->easy = curl_easy_init();
}

InetTransfer::~InetTransfer() {
    d->detach();
    curl_easy_cleanup(d->easy);
    curl_multi_cleanup(d->multi);
    curl_slist_free_all(d->requestHeaders);
}

void InetTransfer::setUrl(const QString& url) {
    d->url = url;
}
QString InetTransfer::url() const {
    return d->url;
}
void InetTransfer::setRemotePort(int port) {
    d->port = port;
}

void InetTransfer::setTimeouts(int connectSeconds, int stallSeconds) {
    connectTimeout = connectSeconds;
    stallTimeout = stallSeconds;
}

void InetTransfer::execute(const QStringList& requestHeaders) {
    cancel();
    d->headerLines.clear();
    d->headersDone = false;
    d->done = false;
    d->result = CURLE_OK;
    d->errorBuffer[0] = 0;
    d->clearBody();
    curl_slist_free_all(d->requestHeaders);
    d->requestHeaders = nullptr;
    for (const QString& line : requestHeaders)
        if (!line.isEmpty())
            d->requestHeaders = curl_slist_append(d->requestHeaders, line.toUtf8().constData());

    CURL* e = d->easy;
    curl_easy_reset(e);
    TransferSetup setup; // the downloads' set-up
    setup.url = d->url.toUtf8();
    setup.port = d->port;
    setup.connectTimeoutSeconds = connectTimeout;
    setup.stallSeconds = stallTimeout;
    setUpTransfer(e, setup, d->errorBuffer);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, d.get());
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, d.get());
    d->rate = RateWatch();
    d->clock.start();
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, d.get());
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    if (d->requestHeaders)
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, d->requestHeaders);

    d->answer = true;
    d->attached = curl_multi_add_handle(d->multi, e) == CURLM_OK;
    if (!d->attached) {
        d->done = true;
        d->answer = false;
        d->result = CURLE_FAILED_INIT;
        return;
    }
    d->step(0);
}

bool InetTransfer::stillExecuting() {
    if (!d->attached || d->headersDone || d->done)
        return false;
    d->step(HeaderSliceMs);
    return !(d->headersDone || d->done);
}

QString InetTransfer::getHeader() const {
    return QString::fromLatin1(d->headerLines);
}

QString InetTransfer::getHeader(const QString& name) const {
    const QByteArray wanted = name.toLatin1().toLower() + ':';
    for (const QByteArray& line : d->headerLines.split('\n')) {
        if (line.toLower().startsWith(wanted))
            return QString::fromLatin1(line.mid(wanted.size()).trimmed());
    }
    return {};
}

QByteArray InetTransfer::getChunk(int size) {
    if (size <= 0)
        return {};
    QElapsedTimer sinceYield;
    sinceYield.start();
    d->wanted = size_t(size);
    while (d->available() < size_t(size) && d->attached && !d->done) {
        if (d->paused && d->limit() - d->available() >= CURL_MAX_WRITE_SIZE) {
            d->paused = false;
            d->rate.restart(); // the time it was held back does not count against the server
            curl_easy_pause(d->easy, CURLPAUSE_CONT);
            continue;
        }
        d->step(0);
        if (d->available() >= size_t(size) || d->done || d->paused)
            continue;
        d->step(WaitSliceMs);
        if (sinceYield.elapsed() >= WaitSliceMs) {
            yield();
            sinceYield.restart();
        }
    }
    const size_t n = std::min(d->available(), size_t(size));
    QByteArray chunk(d->buffer.data() + d->readPos, qsizetype(n));
    d->readPos += n;
    if (d->readPos == d->writePos)
        d->readPos = d->writePos = 0;
    return chunk;
}

void InetTransfer::cancel() {
    d->detach();
    d->answer = false;
    d->readPos = d->writePos = 0;
}

bool InetTransfer::hasAnswer() const {
    return d->answer && d->headersDone;
}
bool InetTransfer::failed() const {
    return d->done && d->result != CURLE_OK;
}

TransportFault InetTransfer::fault() const {
    return failed() ? transportFault(d->result) : TransportFault::None;
}

QString InetTransfer::errorText() const {
    if (!failed())
        return {};
    if (d->errorBuffer[0])
        return QString::fromLocal8Bit(d->errorBuffer);
    return QString::fromLatin1(curl_easy_strerror(d->result));
}

} // namespace krv::platform
