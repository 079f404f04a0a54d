#include "platform/test_hook.h"

#include "platform/program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <unistd.h>

namespace krv::platform {
bool allows(Buttons b, Answer a);
} // namespace krv::platform

namespace krv::platform::hook {

namespace {

struct Step {
    QString verb;   // msgbox, input, click, type, check, choose, close, wait
    QString window; // for actions: the window's object name
    QString control;
    QString text; // the rest of the line, unescaped
    int line = 0;
};

struct State {
    bool active = false;
    QFile transcript;
    bool toStderr = false;
    std::deque<Step> steps;
    qint64 waitStarted = -1;
    bool actionQueued = false; // an action taken off the script that has not started yet
    QString shotsDir;          // ZELVOR_TEST_SHOTS: pictures of the windows as they change
    Sink sink;                 // an unattended run's reader of the transcript
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

bool parseStep(const QString& raw, int lineNo, Step& step) {
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith('#'))
        return false;
    const int sp = line.indexOf(' ');
    step.verb = (sp < 0 ? line : line.left(sp)).toLower();
    QString rest = sp < 0 ? QString() : line.mid(sp + 1);
    step.line = lineNo;
    if (step.verb == "msgbox" || step.verb == "input" || step.verb == "wait") {
        step.text = unescape(rest);
        return true;
    }
    // Actions: "verb window.control rest" or "close window".
    const int sp2 = rest.indexOf(' ');
    const QString target = sp2 < 0 ? rest : rest.left(sp2);
    step.text = sp2 < 0 ? QString() : unescape(rest.mid(sp2 + 1));
    const int dot = target.indexOf('.');
    step.window = dot < 0 ? target : target.left(dot);
    step.control = dot < 0 ? QString() : target.mid(dot + 1);
    return true;
}

QString stepText(const Step& st) {
    QString t = st.verb;
    if (!st.window.isEmpty())
        t += ' ' + st.window + (st.control.isEmpty() ? QString() : '.' + st.control);
    if (!st.text.isEmpty())
        t += ' ' + escape(st.text);
    return t;
}

QWidget* findWindow(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}

QWidget* findTarget(const Step& st) {
    QWidget* window = findWindow(st.window);
    if (!window)
        return nullptr;
    if (st.control.isEmpty())
        return window;
    return window->findChild<QWidget*>(st.control);
}

bool isAction(const Step& st) {
    return st.verb != "msgbox" && st.verb != "input";
}

// Carries out one action on its control; false when the control does not take it.
bool perform(const Step& st, QWidget* target) {
    if (st.verb == "click") {
        if (auto* b = qobject_cast<QAbstractButton*>(target)) {
            b->click();
            return true;
        }
        return false;
    }
    if (st.verb == "type") {
        if (auto* e = qobject_cast<QLineEdit*>(target)) {
            e->setText(st.text);
            emit e->textEdited(st.text);
            return true;
        }
        if (auto* e = qobject_cast<QTextEdit*>(target)) {
            e->setPlainText(st.text);
            return true;
        }
        if (auto* e = qobject_cast<QPlainTextEdit*>(target)) {
            e->setPlainText(st.text);
            return true;
        }
        return false;
    }
    if (st.verb == "check") {
        auto* b = qobject_cast<QAbstractButton*>(target);
        if (!b || !b->isCheckable())
            return false;
        const bool want = st.text.trimmed() != "0";
        if (b->isChecked() != want)
            b->click();
        return true;
    }
    if (st.verb == "choose") {
        const bool byIndex = st.text.startsWith('#');
        const int index = byIndex ? st.text.mid(1).toInt() : -1;
        if (auto* l = qobject_cast<QListWidget*>(target)) {
            int row = index;
            if (!byIndex) {
                const auto items = l->findItems(st.text, Qt::MatchExactly);
                row = items.isEmpty() ? -1 : l->row(items.first());
            }
            if (row < 0 || row >= l->count())
                return false;
            l->setCurrentRow(row);
            emit l->itemActivated(l->item(row));
            return true;
        }
        if (auto* c = qobject_cast<QComboBox*>(target)) {
            const int i = byIndex ? index : c->findText(st.text);
            if (i < 0 || i >= c->count())
                return false;
            c->setCurrentIndex(i);
            emit c->activated(i);
            return true;
        }
        return false;
    }
    if (st.verb == "close") {
        target->close();
        return true;
    }
    if (st.verb == "screenshot") {
        // The window as the user sees it, for the documentation.
        return target->window()->grab().save(st.text, "PNG");
    }
    return false;
}

void pump() {
    State& s = state();
    if (s.actionQueued || s.steps.empty() || !isAction(s.steps.front()))
        return;
    const Step st = s.steps.front();
    if (st.verb == "wait") {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        if (s.waitStarted < 0)
            s.waitStarted = now;
        if (now - s.waitStarted < st.text.toLongLong())
            return;
        s.waitStarted = -1;
        s.steps.pop_front();
        return;
    }
    QWidget* target = findTarget(st);
    if (!target || !target->isEnabled())
        return;
    if (st.verb == "click" && !target->isVisible())
        return;
    // Taken off the script before it runs, and run from its own timer event: a repeating
    // timer does not fire while its own handler runs, so a long handler run from here would
    // hold back the next step even while it yields.
    s.steps.pop_front();
    s.actionQueued = true;
    QTimer::singleShot(0, qApp, [st, target = QPointer<QWidget>(target)] {
        state().actionQueued = false;
        record("action", {stepText(st)});
        if (!target || !perform(st, target))
            record("error", {QString("line %1: %2 cannot act on %3")
                                 .arg(st.line)
                                 .arg(st.verb, st.window + '.' + st.control)});
    });
}

// Saves the window as <shots>/<window>.png, replacing an earlier picture of it, so the last
// state a window showed before it went is what stays.
void capture(QWidget* w) {
    const QString& dir = state().shotsDir;
    if (dir.isEmpty() || !w || !w->isVisible() || w->objectName().isEmpty() ||
        w->objectName().startsWith("qt_"))
        return;
    w->grab().save(dir + '/' + w->objectName() + ".png", "PNG");
}

void captureAll() {
    if (state().shotsDir.isEmpty())
        return;
    for (QWidget* w : QApplication::topLevelWidgets())
        capture(w);
}

class ShowWatcher : public QObject {
public:
    bool eventFilter(QObject* obj, QEvent* ev) override {
        if (ev->type() == QEvent::Show && obj->isWidgetType()) {
            auto* w = static_cast<QWidget*>(obj);
            if (w->isWindow() && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_")) {
                record("show", {w->objectName(), w->windowTitle()});
                capture(w);
            }
        }
        return false;
    }
};

void startPump(int timeoutSeconds) {
    auto* app = QCoreApplication::instance();
    if (!app)
        return;
    app->installEventFilter(new ShowWatcher);
    auto* timer = new QTimer(app);
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, &pump);
    timer->start();
    // A scripted run that never ends is a failed run, never a hung test.
    if (timeoutSeconds > 0)
        QTimer::singleShot(timeoutSeconds * 1000, app, [] {
            record("timeout", {});
            endProgram(124);
        });
}

} // namespace

void install() {
    State& s = state();
    if (s.active)
        return;
    const QString scriptPath = qEnvironmentVariable("ZELVOR_TEST_SCRIPT");
    const QString transcriptPath = qEnvironmentVariable("ZELVOR_TEST_TRANSCRIPT");
    if (scriptPath.isEmpty() && transcriptPath.isEmpty())
        return;
    s.active = true;
    s.shotsDir = qEnvironmentVariable("ZELVOR_TEST_SHOTS");
    if (transcriptPath.isEmpty() || transcriptPath == "-") {
        s.toStderr = true;
    } else {
        s.transcript.setFileName(transcriptPath);
        s.transcript.open(QIODevice::WriteOnly | QIODevice::Append);
    }
    if (!scriptPath.isEmpty()) {
        QFile f(scriptPath);
        if (!f.open(QIODevice::ReadOnly)) {
            record("error", {"cannot read script " + scriptPath});
        } else {
            queueSteps(QString::fromUtf8(f.readAll()));
        }
    }
    record("start", {QCoreApplication::applicationName()});
    const int seconds = qEnvironmentVariableIsSet("ZELVOR_TEST_TIMEOUT")
                            ? qEnvironmentVariableIntValue("ZELVOR_TEST_TIMEOUT")
                            : 120;
    startPump(seconds);
}

void drive(const QString& scriptText, Sink sink) {
    State& s = state();
    s.sink = std::move(sink);
    queueSteps(scriptText);
    if (s.active)
        return;
    s.active = true;
    record("start", {QCoreApplication::applicationName()});
    startPump(qEnvironmentVariableIntValue("ZELVOR_TEST_TIMEOUT"));
}

bool active() {
    return state().active;
}

void queueSteps(const QString& scriptText) {
    State& s = state();
    int lineNo = 0;
    for (const QString& line : scriptText.split('\n')) {
        Step st;
        if (parseStep(line, ++lineNo, st))
            s.steps.push_back(st);
    }
}

std::optional<Answer> answerMsgBox(const QString& text, Buttons buttons, Icon icon,
                                   const QString& title, Answer defaultAnswer) {
    State& s = state();
    if (!s.active)
        return std::nullopt;
    Answer answer = defaultAnswer;
    int holdMs = 0;
    if (!s.steps.empty() && s.steps.front().verb == "msgbox") {
        // "msgbox ANSWER [MS]": the answer, and how long the user takes to give it.
        const QStringList words = s.steps.front().text.simplified().split(' ');
        holdMs = words.value(1).toInt();
        Answer wanted;
        if (parseAnswer(words.value(0), wanted) && allows(buttons, wanted))
            answer = wanted;
        else
            record("error", {QString("line %1: answer '%2' does not fit %3")
                                 .arg(s.steps.front().line)
                                 .arg(s.steps.front().text, toString(buttons))});
        s.steps.pop_front();
    }
    captureAll();
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
    QString answer = defaultText;
    if (!s.steps.empty() && s.steps.front().verb == "input") {
        answer = s.steps.front().text;
        s.steps.pop_front();
    }
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
