#include "platform/http_get.h"

#include <QByteArray>
#include <curl/curl.h>
#include <memory>

namespace krv::platform {

namespace {

size_t appendBody(char* data, size_t size, size_t count, void* user) {
    static_cast<QByteArray*>(user)->append(data, qsizetype(size * count));
    return size * count;
}

struct EasyDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct MultiDeleter {
    void operator()(CURLM* m) const { curl_multi_cleanup(m); }
};

} // namespace

QByteArray httpGet(const QString& url, const HttpGetOptions& options) {
    static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    if (!initialised)
        return {};
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi)
        return {};

    const QByteArray address = url.toUtf8();
    QByteArray body;
    CURL* c = easy.get();
    curl_easy_setopt(c, CURLOPT_URL, address.constData());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    // Direct access, as the original control was set up: no proxy from the environment.
    curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, long(options.connectTimeoutSeconds));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, long(options.lowSpeedSeconds));
    if (options.remotePort > 0)
        curl_easy_setopt(c, CURLOPT_PORT, long(options.remotePort));

    // Driven through a multi handle so the caller's event loop runs between short polls.
    CURLM* m = multi.get();
    if (curl_multi_add_handle(m, c) != CURLM_OK)
        return {};
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
    curl_multi_remove_handle(m, c);
    if (result != CURLE_OK)
        return {};
    return body;
}

} // namespace krv::platform
