#include "platform/transfer_policy.h"

namespace krv::platform {

namespace {

qint64 setting(const char* name, qint64 fallback) {
    bool ok = false;
    const qint64 v = qEnvironmentVariable(name).toLongLong(&ok);
    return ok && v >= 0 ? v : fallback;
}

// Samples closer together than this add nothing to a window of seconds.
constexpr qint64 SampleEveryMs = 200;

} // namespace

RateFloor rateFloor() {
    return {setting("ZELVOR_MIN_RATE", 1024), setting("ZELVOR_MIN_RATE_SECONDS", 60)};
}

bool RateWatch::tooSlow(qint64 nowMs, qint64 bytes) {
    if (floor_.bytesPerSecond <= 0 || floor_.seconds <= 0)
        return false;
    if (samples_.empty() || nowMs - samples_.back().first >= SampleEveryMs)
        samples_.emplace_back(nowMs, bytes);
    const qint64 windowMs = floor_.seconds * 1000;
    // Keep one sample at or before the window's start: the average runs over the whole window.
    while (samples_.size() >= 2 && samples_[1].first <= nowMs - windowMs)
        samples_.pop_front();
    const auto [since, then] = samples_.front();
    if (nowMs - since < windowMs)
        return false;
    return (bytes - then) * 1000 < floor_.bytesPerSecond * (nowMs - since);
}

QString caFile() {
    return qEnvironmentVariable("ZELVOR_CA_FILE");
}

void applyTransferPolicy(CURL* easy) {
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // libcurl's defaults verify the peer and its name; they are restated so that no other
    // setting of the handle can have weakened them.
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    const QString file = caFile();
    if (!file.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, file.toLocal8Bit().constData());
}

bool initTransfers() {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return initialised;
}

void setUpTransfer(CURL* easy, const TransferSetup& setup, char* errorBuffer) {
    curl_easy_setopt(easy, CURLOPT_URL, setup.url.constData());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    if (setup.direct)
        curl_easy_setopt(easy, CURLOPT_NOPROXY, "*");
    applyTransferPolicy(easy);
    if (setup.http11)
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    if (setup.receiveBufferBytes > 0)
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, setup.receiveBufferBytes);
    if (setup.maxBodyBytes > 0)
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(setup.maxBodyBytes));
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, long(setup.connectTimeoutSeconds));
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, long(setup.stallSeconds));
    if (setup.port > 0)
        curl_easy_setopt(easy, CURLOPT_PORT, long(setup.port));
}

} // namespace krv::platform
