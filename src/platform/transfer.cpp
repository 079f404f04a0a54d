#include "platform/transfer.h"

#include "platform/program.h"
#include "platform/test_hook.h"

#include <QElapsedTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

namespace krv::platform {

namespace {

// While the body waits for a reader, the event loop gets a turn this often.
constexpr int WaitSliceMs = 50;
// A wait for headers returns to its caller (who yields) at least this often.
constexpr int HeaderSliceMs = 10;
// Samples closer together than this add nothing to a window of seconds.
constexpr qint64 SampleEveryMs = 200;

qint64 setting(const char* name, qint64 fallback) {
    bool ok = false;
    const qint64 v = qEnvironmentVariable(name).toLongLong(&ok);
    return ok && v >= 0 ? v : fallback;
}

// The length of a second of the stall time and the rate floor's window. Tests of dead and
// dripping servers shorten it under the test hook instead of waiting out real seconds; only
// a hook installed from its variables counts, as an unattended run drives the hook too.
qint64 secondMs() {
    const int ms = qEnvironmentVariableIntValue("ZELVOR_TEST_TRANSFER_SECOND_MS");
    const bool hooked = hook::active() && (!qEnvironmentVariableIsEmpty("ZELVOR_TEST_SCRIPT") ||
                                           !qEnvironmentVariableIsEmpty("ZELVOR_TEST_TRANSCRIPT"));
    return hooked && ms > 0 ? ms : 1000;
}

// A transfer's progress against the rate floor and the stall time, fed from libcurl's
// progress callback. Our own rather than libcurl's low-speed check, which counts whole
// seconds and averages over several of them.
class Watch {
public:
    Watch() = default;
    Watch(RateFloor floor, qint64 stallMs) : floor_(floor), stallMs_(stallMs) {
        const qint64 second = secondMs();
        windowMs_ = floor_.seconds * second;
        stallMs_ *= second;
        clock_.start();
    }
    enum class Verdict { Going, Stalled, TooSlow };
    // bytes: what arrived so far. Stalled once nothing came for the stall time, TooSlow once
    // the average over the window fell under the floor.
    Verdict check(qint64 bytes) {
        const qint64 now = clock_.elapsed();
        if (bytes != lastBytes_) {
            lastBytes_ = bytes;
            lastChange_ = now;
        }
        if (stallMs_ > 0 && now - lastChange_ >= stallMs_)
            return Verdict::Stalled;
        if (floor_.bytesPerSecond <= 0 || windowMs_ <= 0)
            return Verdict::Going;
        if (samples_.empty() || now - samples_.back().first >= std::min(SampleEveryMs, windowMs_))
            samples_.emplace_back(now, bytes);
        // Keep one sample at or before the window's start: the average runs over the window.
        while (samples_.size() >= 2 && samples_[1].first <= now - windowMs_)
            samples_.pop_front();
        const auto [since, then] = samples_.front();
        if (now - since < windowMs_)
            return Verdict::Going;
        const bool slow = (bytes - then) * 1000 < floor_.bytesPerSecond * (now - since);
        return slow ? Verdict::TooSlow : Verdict::Going;
    }
    // Forgets what was seen: time we hold the transfer back ourselves, or spend connecting
    // (the connect time-out's business), is not the server being slow.
    void restart() {
        samples_.clear();
        lastChange_ = clock_.elapsed();
    }

private:
    RateFloor floor_;
    qint64 stallMs_ = 0, windowMs_ = 0;
    QElapsedTimer clock_;
    qint64 lastBytes_ = -1, lastChange_ = 0;
    std::deque<std::pair<qint64, qint64>> samples_; // (time, bytes), oldest first
};

// The status of a header block's first line ("HTTP/1.1 200 OK", "HTTP/2 200"); 0 when none.
int statusOf(const QByteArray& headerLines) {
    return headerLines.left(headerLines.indexOf('\n')).split(' ').value(1).trimmed().toInt();
}

bool initTransfers() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

} // namespace

RateFloor rateFloor() {
    return {setting("ZELVOR_MIN_RATE", 1024), setting("ZELVOR_MIN_RATE_SECONDS", 60)};
}

QString caFile() {
    return qEnvironmentVariable("ZELVOR_CA_FILE");
}

TransferOptions TransferOptions::request() {
    TransferOptions o;
    o.direct = true;
    o.maxBodyBytes = 16 * 1024 * 1024;
    return o;
}

TransferOptions TransferOptions::download() {
    TransferOptions o;
    o.receiveBufferBytes = 128L * 1024;
    o.whileWaiting = [] { yield(); };
    return o;
}

struct InetTransfer::Impl {
    TransferOptions next;  // for the requests to come
    TransferOptions setup; // the one of the request under way
    QString url;
    int port = 0;
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    curl_slist* requestHeaders = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    QString stallWords; // why the stall check ended the transfer

    bool attached = false;    // the easy handle is in the multi handle
    bool headersDone = false; // the final answer's header block is complete
    bool done = false;        // the transfer has ended, well or not
    bool answer = false;      // a request was executed and not cancelled
    bool tooLarge = false;    // the body passed setup.maxBodyBytes
    CURLcode result = CURLE_OK;
    QByteArray headerLines; // lines of the current answer, each with its line end
    qint64 headerBytes = 0; // of every answer so far: a server sending headers is not stalled
    qint64 bodyBytes = 0;   // of the final answer

    // Body bytes from readPos to writePos; compacted when the tail runs out.
    std::vector<char> buffer;
    size_t readPos = 0, writePos = 0;
    bool paused = false;
    size_t wanted = 0; // size of the chunk being waited for
    Watch watch;

    static int onProgress(void* self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t) {
        auto* d = static_cast<Impl*>(self);
        curl_off_t ready = 0;
        curl_easy_getinfo(d->easy, CURLINFO_PRETRANSFER_TIME_T, &ready);
        // Held back by our own full buffer (a reader paused by the user), or still connecting:
        // not the server's slowness.
        if (d->paused || ready == 0) {
            d->watch.restart();
            return 0;
        }
        const Watch::Verdict verdict = d->watch.check(qint64(received) + d->headerBytes);
        // libcurl's own words for a stall, which its low-speed check used to give.
        if (verdict == Watch::Verdict::Stalled)
            d->stallWords = QString("Operation too slow. Less than 1 bytes/sec transferred the "
                                    "last %1 seconds")
                                .arg(d->setup.stallSeconds);
        return verdict == Watch::Verdict::Going ? 0 : 1;
    }

    size_t available() const { return writePos - readPos; }
    // Held back beyond this, with room for one more delivery of the chunk being waited for.
    size_t limit() const { return std::max(size_t(BufferCapacity), wanted + CURL_MAX_WRITE_SIZE); }

    static size_t onHeader(char* data, size_t size, size_t count, void* self) {
        auto* d = static_cast<Impl*>(self);
        const size_t n = size * count;
        d->headerBytes += qint64(n);
        const QByteArray line(data, qsizetype(n));
        if (line.startsWith("HTTP/")) {
            d->headerLines.clear();
            d->headersDone = false;
        }
        if (line == "\r\n" || line == "\n") {
            // An interim answer (100 Continue) is followed by the real one.
            if (statusOf(d->headerLines) / 100 != 1)
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
        if (d->setup.maxBodyBytes > 0 && d->bodyBytes + qint64(n) > d->setup.maxBodyBytes) {
            d->tooLarge = true;
            return 0; // abandons the transfer: nothing more is read
        }
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
        d->bodyBytes += qint64(n);
        return n;
    }

    // Sets the handle, fresh from curl_easy_reset, up for a GET of url with setup.
    void setUp() {
        CURL* e = easy;
        curl_easy_setopt(e, CURLOPT_URL, url.toUtf8().constData());
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        if (setup.direct)
            curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        // libcurl's defaults verify the peer and its name; they are restated so that no other
        // setting of the handle can have weakened them.
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        if (const QString file = caFile(); !file.isEmpty())
            curl_easy_setopt(e, CURLOPT_CAINFO, file.toLocal8Bit().constData());
        if (setup.receiveBufferBytes > 0)
            curl_easy_setopt(e, CURLOPT_BUFFERSIZE, setup.receiveBufferBytes);
        if (setup.maxBodyBytes > 0)
            curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(setup.maxBodyBytes));
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, long(setup.connectTimeoutSeconds));
        if (port > 0)
            curl_easy_setopt(e, CURLOPT_PORT, long(port));
        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        watch = Watch(rateFloor(), setup.stallSeconds);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
        if (requestHeaders)
            curl_easy_setopt(e, CURLOPT_HTTPHEADER, requestHeaders);
    }

    void collectEnded() {
        int left = 0;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg == CURLMSG_DONE && msg->easy_handle == easy) {
                done = true;
                result = msg->data.result;
                if (result == CURLE_FILESIZE_EXCEEDED)
                    tooLarge = true;
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
        bodyBytes = headerBytes = 0;
        tooLarge = false;
        buffer.assign(size_t(BufferCapacity), 0);
        buffer.shrink_to_fit();
    }
};

InetTransfer::InetTransfer() : InetTransfer(TransferOptions::download()) {}

InetTransfer::InetTransfer(TransferOptions options) : d(std::make_unique<Impl>()) {
    initTransfers();
    d->multi = curl_multi_init();
    d->easy = curl_easy_init();
    setOptions(std::move(options));
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

void InetTransfer::setOptions(TransferOptions options) {
    d->next = std::move(options);
    d->port = d->next.port;
}
const TransferOptions& InetTransfer::options() const {
    return d->next;
}

void InetTransfer::execute(const QStringList& requestHeaders) {
    cancel();
    d->headerLines.clear();
    d->headersDone = false;
    d->done = false;
    d->result = CURLE_OK;
    d->errorBuffer[0] = 0;
    d->stallWords.clear();
    d->clearBody();
    curl_slist_free_all(d->requestHeaders);
    d->requestHeaders = nullptr;
    for (const QString& line : requestHeaders)
        if (!line.isEmpty())
            d->requestHeaders = curl_slist_append(d->requestHeaders, line.toUtf8().constData());

    d->setup = d->next;
    curl_easy_reset(d->easy);
    d->setUp();

    d->answer = true;
    d->attached = d->easy && curl_multi_add_handle(d->multi, d->easy) == CURLM_OK;
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

int InetTransfer::status() const {
    return statusOf(d->headerLines);
}

QString InetTransfer::httpVersion() const {
    const QByteArray first = d->headerLines.left(d->headerLines.indexOf(' '));
    return first.startsWith("HTTP/") ? QString::fromLatin1(first.mid(5)) : QString();
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
            d->watch.restart(); // the time it was held back does not count against the server
            curl_easy_pause(d->easy, CURLPAUSE_CONT);
            continue;
        }
        d->step(0);
        if (d->available() >= size_t(size) || d->done || d->paused)
            continue;
        d->step(WaitSliceMs);
        if (sinceYield.elapsed() >= WaitSliceMs) {
            if (d->setup.whileWaiting)
                d->setup.whileWaiting();
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
bool InetTransfer::tooLarge() const {
    return d->tooLarge;
}

TransportFault InetTransfer::fault() const {
    return failed() ? transportFault(d->result) : TransportFault::None;
}

QString InetTransfer::errorText() const {
    if (!failed())
        return {};
    if (!d->stallWords.isEmpty())
        return d->stallWords;
    if (d->errorBuffer[0])
        return QString::fromLocal8Bit(d->errorBuffer);
    return QString::fromLatin1(curl_easy_strerror(d->result));
}

HttpAnswer httpRequest(const QString& url, const TransferOptions& options) {
    InetTransfer t(options);
    t.setUrl(url);
    t.execute();
    while (t.stillExecuting())
        if (options.whileWaiting)
            options.whileWaiting();
    HttpAnswer answer;
    for (QByteArray chunk; !(chunk = t.getChunk(64 * 1024)).isEmpty();)
        answer.body += chunk;
    answer.status = t.status();
    answer.statusLine = t.getHeader().section("\r\n", 0, 0).trimmed();
    if (t.tooLarge()) {
        answer.failure = HttpAnswer::Failure::TooLarge;
        answer.body.clear();
    } else if (t.failed()) {
        answer.failure = HttpAnswer::Failure::Transport;
        answer.fault = t.fault();
        answer.detail = t.errorText();
        answer.body.clear();
    } else if (answer.status != 200) {
        answer.failure = HttpAnswer::Failure::Status;
        answer.body.clear();
    }
    return answer;
}

QByteArray httpGet(const QString& url, const TransferOptions& options) {
    return httpRequest(url, options).body;
}

} // namespace krv::platform
