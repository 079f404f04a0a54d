#pragma once
// A certificate authority made for one test, and a server certificate it issued for
// 127.0.0.1 (as an IP subject alternative name), made with the openssl command in a temporary
// folder: HTTPS on loopback with verification on, trusted only where the test says so.
#include <QString>
#include <QTemporaryDir>

namespace krv::test {

class ThrowawayCa {
public:
    // Throws std::runtime_error, with openssl's words, when a file cannot be made.
    ThrowawayCa();

    QString caFile() const { return dir_.path() + "/ca.pem"; } // the authority's certificate
    QString certificate() const { return dir_.path() + "/server.pem"; }
    QString key() const { return dir_.path() + "/server.key"; }

private:
    QTemporaryDir dir_;
};

} // namespace krv::test
