#include "platform/transfer_policy.h"

namespace krv::platform {

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

} // namespace krv::platform
