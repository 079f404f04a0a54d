#include "database/menu_file.h"

#include "common/text.h"
#include "database/connection.h"
#include "platform/krv_error.h"

#include <QFileInfo>

namespace krv::database {

namespace {
const QString kInsertHead = "insert into menu (Sistema, sequencia, Menu, NomeInter, Nivel, "
                            "NivelAnterior, Programa) values ";
} // namespace

int menuDigit(const QString& field) {
    if (field.isEmpty())
        return 0;
    const char16_t c = field.front().unicode();
    return c >= u'0' && c <= u'9' ? c - u'0' : 0;
}

MenuRecord parseMenuLine(const QString& line) {
    // Positions are 1-based in the file's layout; mid() gives empty text past the end.
    const auto cut = [&line](int start, int length) { return line.mid(start - 1, length); };
    MenuRecord r;
    r.Sistema = cut(1, 50);
    r.sequencia = cut(51, 3);
    r.Menu = cut(54, 30);
    r.NomeInter = cut(84, 20);
    r.Nivel = menuDigit(cut(104, 1));
    r.NivelAnterior = cut(105, 50);
    r.Programa = menuDigit(cut(155, 1));
    return r;
}

MenuFileReader::MenuFileReader(const QString& path) : file_(path) {
    const QFileInfo info(path);
    if (!info.exists())
        throw KrvError(err::FileNotFound, "Arquivo não encontrado: " + path);
    if (!info.isFile() || !file_.file().open(QIODevice::ReadOnly))
        throw KrvError(err::FileAccess, "Erro de acesso ao arquivo: " + path);
    size_ = file_.file().size();
}

bool MenuFileReader::atEnd() {
    return file_.file().atEnd();
}

QString MenuFileReader::readLine() {
    QByteArray bytes = file_.file().readLine();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return text::fromCp1252(bytes);
}

MenuInsertBatch::MenuInsertBatch(int maxRows, int maxChars, bool backslashEscapes)
    : maxRows_(maxRows), maxChars_(maxChars), backslashEscapes_(backslashEscapes) {}

void MenuInsertBatch::add(const MenuRecord& record) {
    if (rows_ == 0) {
        sql_.reserve(maxChars_ + 1024);
        sql_ = kInsertHead;
    } else {
        sql_ += ',';
    }
    sql_ += menuRowValues(record, backslashEscapes_);
    ++rows_;
}

bool MenuInsertBatch::full() const {
    return rows_ >= maxRows_ || sql_.size() >= maxChars_;
}

QString MenuInsertBatch::take() {
    QString out = std::move(sql_);
    sql_ = QString();
    rows_ = 0;
    return out;
}

QString menuRowValues(const MenuRecord& r, bool backslashEscapes) {
    const auto q = [backslashEscapes](const QString& v) { return sqlQuote(v, backslashEscapes); };
    return '(' + q(r.Sistema) + ',' + q(r.sequencia) + ',' + q(r.Menu) + ',' + q(r.NomeInter) +
           ',' + QString::number(r.Nivel) + ',' + q(r.NivelAnterior) + ',' +
           QString::number(r.Programa) + ')';
}

QString menuVersionUpdate(const QString& versaoMenu, bool backslashEscapes) {
    return "update licensa set atmenu=" + sqlQuote(versaoMenu, backslashEscapes);
}

} // namespace krv::database
