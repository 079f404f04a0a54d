#include "download/protocol.h"

#include "build_info.h"
#include "common/text.h"
#include "platform/program.h"
#include "platform/transfer.h"

#include <QUrl>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>

namespace krv::protocol {

QString baseUrl() {
    const QString fromEnvironment = qEnvironmentVariable("ZELVOR_BASE_URL");
    return fromEnvironment.isEmpty() ? QString::fromUtf8(build::baseUrl) : fromEnvironment;
}

QString TrocaEComercial(const QString& text) {
    QString out = text;
    out.replace('&', '@');
    return out;
}

QString encodeValue(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString loginUrl(const QString& user, const QString& password) {
    return baseUrl() + "atualsis/atkrv.php?id=" + encodeValue(TrocaEComercial(user)) +
           "&pwd=" + encodeValue(password);
}

QString versionListUrl() {
    return baseUrl() + "atualsis/versao.php";
}

QString historyUrl(long long code, const QString& installedVersion) {
    return baseUrl() + "atualsis/lerhistorico.php?id=" + QString::number(code) +
           "&atual=" + encodeValue(installedVersion);
}

QString clientLogUrl(const QDate& date, const QString& cliente, const QString& modulo) {
    return baseUrl() + "atualsis/logcliente.php?dt=" + date.toString("yyyy-MM-dd") +
           "&cliente=" + encodeValue(cliente) + "&modulo=" + encodeValue(modulo);
}

QString fileUrl(const QString& fileName) {
    return baseUrl() + "atualsis/" + fileName;
}

ServerAnswer Inet::Request(const QString& url) const {
    platform::TransferOptions o = platform::TransferOptions::request();
    o.port = RemotePort;
    o.maxBodyBytes = MaxAnswerBytes;
    o.whileWaiting = [] { platform::yield(); };
    const platform::HttpAnswer a = platform::httpRequest(url, o);
    ServerAnswer out;
    switch (a.failure) {
    case platform::HttpAnswer::Failure::None:
        out.received = true;
        out.body = text::decodeLegacy(a.body);
        break;
    case platform::HttpAnswer::Failure::Status:
        out.failure = "o servidor respondeu com o código HTTP " + QString::number(a.status);
        if (const QString reason = a.statusLine.section(' ', 2); !reason.isEmpty())
            out.failure += " (" + reason + ")";
        break;
    case platform::HttpAnswer::Failure::TooLarge:
        out.failure = QString("a resposta passou do limite de %1 MiB").arg(MaxAnswerBytes >> 20);
        break;
    case platform::HttpAnswer::Failure::Transport:
        out.failure = platform::describeFault(a.fault, a.detail);
        out.tlsFailure = platform::isTlsFault(a.fault);
        break;
    }
    return out;
}

void sendClientLog(const QString& cliente, const QString& modulo) {
    platform::httpGet(clientLogUrl(QDate::currentDate(), cliente, modulo));
}

namespace {

struct DocDeleter {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using Doc = std::unique_ptr<xmlDoc, DocDeleter>;

// Strict parsing, no network, no messages on standard error. The text is handed over as
// UTF-8 whatever a declaration in it says, since it has been decoded already.
Doc parse(const QString& body) {
    const QByteArray bytes = TrocaEComercial(body).toUtf8();
    if (bytes.isEmpty())
        return nullptr;
    return Doc(xmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, "UTF-8",
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

bool isBlankText(const xmlNode* n) {
    return n->type == XML_TEXT_NODE && xmlIsBlankNode(const_cast<xmlNode*>(n));
}

// The nodes a DOM without white-space text would show as children.
QList<xmlNode*> children(xmlNode* n) {
    QList<xmlNode*> out;
    for (xmlNode* c = n->children; c; c = c->next)
        if (!isBlankText(c))
            out.append(c);
    return out;
}

void appendText(const xmlNode* n, QByteArray& out) {
    switch (n->type) {
    case XML_TEXT_NODE:
    case XML_CDATA_SECTION_NODE:
        if (!isBlankText(n) && n->content)
            out.append(reinterpret_cast<const char*>(n->content));
        return;
    case XML_COMMENT_NODE:
    case XML_PI_NODE:
        return;
    default:
        for (const xmlNode* c = n->children; c; c = c->next)
            appendText(c, out);
    }
}

// The text of a node and all its descendants; a comment or instruction standing as a
// field gives its own content.
QString nodeText(const xmlNode* n) {
    QByteArray out;
    if ((n->type == XML_COMMENT_NODE || n->type == XML_PI_NODE) && n->content)
        out = reinterpret_cast<const char*>(n->content);
    else
        appendText(n, out);
    return QString::fromUtf8(out);
}

// A leading XML declaration is the document's first node to the original parser; libxml2
// keeps it out of the tree, so it is looked for in the text.
bool startsWithDeclaration(const QString& body) {
    QStringView v(body);
    if (v.startsWith(QChar(0xFEFF)))
        v = v.mid(1);
    return v.startsWith(u"<?xml") && v.size() > 5 && v[5].isSpace();
}

} // namespace

bool isWellFormed(const QString& body) {
    return parse(body) != nullptr;
}

ListAnswer requestList(const Inet& inet, const QString& url) {
    ListAnswer out;
    const ServerAnswer a = inet.Request(url);
    if (!a.received) {
        out.failure = a.failure;
        return out;
    }
    XmlAnswer xml = readRecords(a.body);
    if (!xml.wellFormed) {
        out.failure = "a resposta do servidor não é um documento XML válido";
        return out;
    }
    out.ok = true;
    out.records = std::move(xml.records);
    return out;
}

XmlAnswer readRecords(const QString& body) {
    XmlAnswer answer;
    Doc doc = parse(body);
    if (!doc)
        return answer;
    answer.wellFormed = true;
    if (startsWithDeclaration(body))
        return answer;
    // The first node of the document, whatever its kind, is taken as the root.
    xmlNode* root = doc->children;
    if (!root || root->type != XML_ELEMENT_NODE)
        return answer;
    for (xmlNode* record : children(root)) {
        Record r;
        if (record->type == XML_ELEMENT_NODE)
            for (xmlNode* field : children(record)) {
                if (r.fields.size() == 3)
                    break;
                r.fields.append(nodeText(field));
            }
        answer.records.append(r);
    }
    return answer;
}

} // namespace krv::protocol
