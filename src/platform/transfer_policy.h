#pragma once
// What every transfer of the assistant is allowed: HTTP and HTTPS only, and over HTTPS the
// server's certificate and name always verified. Both transfer paths (the protocol's requests
// and the downloads) apply it, so they cannot drift apart.
#include <QString>
#include <curl/curl.h>

namespace krv::platform {

// The certificate authorities an administrator names instead of the system's store: the
// file ZELVOR_CA_FILE names (PEM); empty when unset. There is deliberately no setting that
// turns verification off.
QString caFile();

// Sets the allowed protocols (requests and redirects) and, when caFile() names one, the
// authorities' file on an easy handle. Call after curl_easy_reset.
void applyTransferPolicy(CURL* easy);

} // namespace krv::platform
