#include "navigation/historico.h"

#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <QTextList>

namespace krv::navigation {

namespace {
constexpr int kHeaderWidth = 12;
constexpr int kDescriptionWidth = 100;

QTextCharFormat formatFor(LineKind kind) {
    QTextCharFormat f;
    f.setFontFamilies({"courier new"});
    f.setFontPointSize(kind == LineKind::Heading ? 10 : 9);
    f.setForeground(kind == LineKind::Heading ? QColor(0, 0, 255) : QColor(0, 0, 0));
    f.setFontWeight(kind == LineKind::Heading ? QFont::Bold : QFont::Normal);
    // The description style is shown as italic.
    f.setFontItalic(kind == LineKind::Description);
    return f;
}

// The paragraph at the caret joins the bulleted list of the paragraph before it, or starts one;
// or leaves any list it inherited.
void setListMarker(QTextCursor& c, bool on) {
    QTextBlock block = c.block();
    if (QTextList* inherited = block.textList())
        inherited->remove(block);
    QTextBlockFormat plain = c.blockFormat();
    plain.setIndent(0);
    plain.setObjectIndex(-1);
    c.setBlockFormat(plain);
    if (!on)
        return;
    QTextList* previous = block.previous().isValid() ? block.previous().textList() : nullptr;
    if (previous && previous->format().style() == QTextListFormat::ListDisc)
        previous->add(block);
    else
        c.createList(QTextListFormat::ListDisc);
}
} // namespace

bool HistoryText::isBlank(const QString& text) {
    for (QChar ch : text)
        if (ch != u' ')
            return false;
    return true;
}

QString HistoryText::slot(const QString& value, int width) {
    return value.leftJustified(width, u' ', true);
}

QString HistoryText::heading(int code) {
    switch (code) {
    case 1:
        return "Banco de Dados";
    case 2:
        return "Menu Principal";
    case 3:
        return "Resida";
    case 4:
        return "Pagvel";
    case 5:
        return "Control";
    case 6:
        return "Caixa";
    case 7:
        return "Zapo";
    case 8:
        return "Quotel";
    case 9:
    case 10:
        return "Vitrax";
    case 11:
        return "Menu Lateral";
    default:
        return {};
    }
}

void HistoryText::Inclui(const QString& text, LineKind kind) {
    const QString kept = text;
    QString line = text;
    if (!isBlank(box_->toPlainText()))
        line = "\r\n" + line;
    QTextCursor c(box_->document());
    c.movePosition(QTextCursor::End);
    c.insertText(line, formatFor(kind));
    c.movePosition(QTextCursor::End);
    setListMarker(c, !kept.isEmpty() && kind == LineKind::Description);
    box_->setTextCursor(c);
}

void HistoryText::appendSection(int code, const QList<QStringList>& records) {
    const QString title = heading(code);
    if (!title.isEmpty())
        Inclui(title, LineKind::Heading);
    QString lastHeader;
    for (const QStringList& r : records) {
        const QString header = slot(r.value(0), kHeaderWidth) + slot(r.value(1), kHeaderWidth);
        if (header != lastHeader) {
            if (!lastHeader.isEmpty())
                Inclui({}, LineKind::Description);
            Inclui(header, LineKind::Header);
            lastHeader = header;
        }
        Inclui(slot(r.value(2), kDescriptionWidth), LineKind::Description);
    }
    Inclui({}, LineKind::Description);
}

} // namespace krv::navigation
