#pragma once
// A throwaway folder served by the reference update server on loopback, for the tests of
// the protocol, the login window and the server itself.
#include "update_server.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <memory>

namespace krv::test {

class ServedFolder {
public:
    ServedFolder() {
        QDir(dir_.path()).mkpath("atualsis");
        QDir(dir_.path()).mkpath("historico");
        listen(std::make_unique<tools::UpdateServer>(dir_.path().toStdString()));
    }

    // From now on the same folder is served over HTTPS with this certificate and key (the
    // base address changes; the requests answered so far are forgotten).
    void serveOverTls(const QString& certificate, const QString& key) {
        server_.reset();
        listen(std::make_unique<tools::UpdateServer>(dir_.path().toStdString(),
                                                     certificate.toStdString(), key.toStdString()));
    }

    QString path() const { return dir_.path(); }
    QString baseUrl() const { return QString::fromStdString(server_->baseUrl()); }
    int port() const { return server_->port(); }
    tools::UpdateServer& server() { return *server_; }

    // Writes a file below the served folder ("usuarios.txt", "atualsis/x.zip", ...).
    void write(const QString& relative, const QByteArray& bytes) const {
        const QString p = dir_.path() + '/' + relative;
        QDir().mkpath(QFileInfo(p).absolutePath());
        QFile f(p);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write " + p.toStdString());
    }
    QByteArray read(const QString& relative) const {
        QFile f(dir_.path() + '/' + relative);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    // The requests answered so far whose text starts with prefix ("GET /atualsis/atkrv.php").
    int answered(const std::string& prefix) const {
        int n = 0;
        for (const auto& r : server_->requests())
            n += r.rfind(prefix, 0) == 0;
        return n;
    }

private:
    void listen(std::unique_ptr<tools::UpdateServer> server) {
        server_ = std::move(server);
        if (!server_->bind("127.0.0.1", 0))
            throw std::runtime_error("cannot bind the update server");
        server_->start();
    }

    QTemporaryDir dir_;
    std::unique_ptr<tools::UpdateServer> server_;
};

// A loopback port where nothing listens: one a server had a moment ago.
inline int closedPort() {
    QTemporaryDir empty;
    tools::UpdateServer s(empty.path().toStdString());
    if (!s.bind("127.0.0.1", 0))
        return 9; // discard: nothing listens there on a test machine
    // Served and stopped, so the socket is closed rather than left bound.
    s.start();
    s.stop();
    return s.port();
}

} // namespace krv::test
