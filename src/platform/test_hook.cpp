#include "platform/test_hook.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <unistd.h>

namespace krv::platform::hook {

namespace {

struct State {
    bool active = false;
    QFile transcript;
    bool toStderr = false;
    Script* script = nullptr;
    Sink sink; // an unattended run's reader of the transcript
};

State& state() {
    static State s;
    return s;
}

void writeLine(const QString& line) {
    State& s = state();
    const QByteArray bytes = line.toUtf8() + '\n';
    if (s.toStderr) {
        fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        fflush(stderr);
    } else if (s.transcript.isOpen()) {
        s.transcript.write(bytes);
        s.transcript.flush();
    }
}

} // namespace

void setScript(Script* script) {
    state().script = script;
}

void install() {
    State& s = state();
    if (s.active)
        return;
    const QString scriptPath = qEnvironmentVariable("ZELVOR_TEST_SCRIPT");
    const QString transcriptPath = qEnvironmentVariable("ZELVOR_TEST_TRANSCRIPT");
    if (scriptPath.isEmpty() && transcriptPath.isEmpty())
        return;
    s.active = true;
    if (transcriptPath.isEmpty() || transcriptPath == "-") {
        s.toStderr = true;
    } else {
        s.transcript.setFileName(transcriptPath);
        s.transcript.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    if (s.script && !scriptPath.isEmpty())
        s.script->load(scriptPath);
    record("start", {QCoreApplication::applicationName()});
    const int seconds = qEnvironmentVariableIsSet("ZELVOR_TEST_TIMEOUT")
                            ? qEnvironmentVariableIntValue("ZELVOR_TEST_TIMEOUT")
                            : 120;
    if (s.script)
        s.script->start(seconds);
}

bool attach(Sink sink) {
    State& s = state();
    s.sink = std::move(sink);
    if (s.active)
        return false;
    s.active = true;
    record("start", {QCoreApplication::applicationName()});
    return true;
}

bool active() {
    return state().active;
}

std::optional<Answer> answerMsgBox(const QString& text, Buttons buttons, Icon icon,
                                   const QString& title, Answer defaultAnswer) {
    State& s = state();
    if (!s.active)
        return std::nullopt;
    int holdMs = 0;
    const Answer answer =
        s.script ? s.script->answerMsgBox(buttons, defaultAnswer, holdMs) : defaultAnswer;
    record("msgbox", {title, toString(icon), toString(buttons), text, toString(answer)});
    if (holdMs > 0) {
        // The box stays open: events, timers among them, go on as under a modal box.
        QEventLoop open;
        QTimer::singleShot(holdMs, &open, &QEventLoop::quit);
        open.exec();
    }
    return answer;
}

std::optional<QString> answerInputBox(const QString& prompt, const QString& title,
                                      const QString& defaultText) {
    State& s = state();
    if (!s.active)
        return std::nullopt;
    const QString answer =
        s.script ? s.script->answerInputBox().value_or(defaultText) : defaultText;
    record("input", {title, prompt, defaultText, answer});
    return answer;
}

void pausePoint(const char* name) {
    static const QByteArray wanted = qgetenv("ZELVOR_TEST_PAUSE");
    if (!state().active || wanted != name)
        return;
    record("pause", {QString::fromLatin1(name)});
    for (;;)
        ::pause();
}

void status(const QString& window, const QString& text) {
    record("status", {window, text});
}

void record(const QString& kind, const QStringList& fields) {
    if (!state().active)
        return;
    if (state().sink)
        state().sink(kind, fields);
    QString line = kind;
    for (const QString& f : fields)
        line += '\t' + escape(f);
    writeLine(line);
}

bool breaksLines(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

namespace {

QString unicodeEscape(QChar c) {
    return QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
}

} // namespace

QString escapeControls(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (QChar c : s)
        out +=
            breaksLines(c) && c != '\t' && c != '\r' && c != '\n' ? unicodeEscape(c) : QString(c);
    return out;
}

QString escape(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        if (breaksLines(c) && c != '\t' && c != '\r' && c != '\n') {
            out += unicodeEscape(c);
            continue;
        }
        switch (c.unicode()) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescape(const QString& s) {
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const QChar n = s[++i];
        bool hex = false;
        const char16_t code = n == 'u' ? s.mid(i + 1, 4).toUShort(&hex, 16) : 0;
        if (hex && s.mid(i + 1, 4).size() == 4) {
            out += QChar(code);
            i += 4;
        } else if (n == 't')
            out += '\t';
        else if (n == 'r')
            out += '\r';
        else if (n == 'n')
            out += '\n';
        else
            out += n;
    }
    return out;
}

} // namespace krv::platform::hook
