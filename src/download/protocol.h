#pragma once
// The update server's protocol: the addresses of its five requests, sending one request on a
// window's transfer control, and reading its XML answers by position.
#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>

namespace krv::protocol {

// The server's base address, ending in "/": ZELVOR_BASE_URL from the environment when set,
// otherwise the address fixed at build time.
QString baseUrl();

// Every "&" replaced by "@"; nothing else touched.
QString TrocaEComercial(const QString& text);

// A query value percent-encoded (RFC 3986 unreserved characters kept), so that "&", "#",
// "+", "%" and blanks reach the server as typed.
QString encodeValue(const QString& value);

// The full addresses. Every value is percent-encoded; the login's user name goes through
// TrocaEComercial first.
QString loginUrl(const QString& user, const QString& password);
QString versionListUrl();
QString historyUrl(long long code, const QString& installedVersion);
QString clientLogUrl(const QDate& date, const QString& cliente, const QString& modulo);
QString fileUrl(const QString& fileName); // base + "atualsis/" + name, used as given

// Answers longer than this are abandoned as failed: memory stays bounded whatever the server
// sends.
inline constexpr qint64 MaxAnswerBytes = 16 * 1024 * 1024;

// One answer of the server: received only when the transport worked, the status was 200 and
// the body stayed within MaxAnswerBytes.
struct ServerAnswer {
    bool received = false;
    QString body;            // decoded text; empty unless received
    QString failure;         // why it was not received, as the user reads it (Portuguese)
    bool tlsFailure = false; // the secure connection failed: its certificate, its handshake
};

// A window's transfer control for the protocol's requests (the login window's Inet1).
class Inet {
public:
    // Remote port that replaces the address's own; 0 keeps the address's port.
    int RemotePort = 0;

    // GET url. While the answer is awaited the event loop runs, so windows keep repainting.
    ServerAnswer Request(const QString& url) const;
    // The body of a received answer; empty on any failure.
    QString OpenURL(const QString& url) const { return Request(url).body; }
};

// The client log: sent on a fresh control (never the login window's port), the answer
// neither awaited by the event loop nor read.
void sendClientLog(const QString& cliente, const QString& modulo);

// One record of an XML answer: the text of the first three child nodes of a child of the
// root, in order. fields has fewer than three entries when the record has fewer children.
struct Record {
    QStringList fields;
    // Field i, or empty text when the record has no such field.
    QString field(int i) const { return fields.value(i); }
    bool hasField(int i) const { return i < fields.size(); }
};

struct XmlAnswer {
    bool wellFormed = false;
    QList<Record> records; // empty unless wellFormed and the document starts with its root
};

// Reads an answer body the way the version list and the history are read: "&" replaced
// by "@" first, then parsed strictly; white-space-only text between elements is not a node.
XmlAnswer readRecords(const QString& body);

// The login's test: the body, with "&" replaced by "@", is a well-formed XML document.
bool isWellFormed(const QString& body);

// A list request (version list, history): its records, or why it could not be read. A
// failed request and an answer that is not well-formed XML are failures, never an empty list.
struct ListAnswer {
    bool ok = false;
    QList<Record> records;
    QString failure; // Portuguese, when not ok
};
ListAnswer requestList(const Inet& inet, const QString& url);

} // namespace krv::protocol
