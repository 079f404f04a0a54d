#include "scripting/script_runner.h"

#include "platform/dialogs.h"
#include "platform/program.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
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

namespace krv::scripting {

using platform::Answer;
using platform::Buttons;
using platform::hook::escape;
using platform::hook::record;
using platform::hook::unescape;

namespace {

struct Step {
    QString verb;   // msgbox, input, click, type, check, choose, close, wait
    QString window; // for actions: the window's object name
    QString control;
    QString text; // the rest of the line, unescaped
    int line = 0;
};

struct State {
    std::deque<Step> steps;
    qint64 waitStarted = -1;
    bool actionQueued = false; // an action taken off the script that has not started yet
    QString shotsDir;          // ZELVOR_TEST_SHOTS: pictures of the windows as they change
};

State& state() {
    static State s;
    return s;
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
            platform::endProgram(124);
        });
}

// What the hook asks of the script when a box comes or the program starts.
class Runner : public platform::hook::Script {
public:
    void load(const QString& path) override {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            record("error", {"cannot read script " + path});
        else
            queueSteps(QString::fromUtf8(f.readAll()));
    }

    void start(int timeoutSeconds) override {
        state().shotsDir = qEnvironmentVariable("ZELVOR_TEST_SHOTS");
        startPump(timeoutSeconds);
    }

    Answer answerMsgBox(Buttons buttons, Answer defaultAnswer, int& holdMs) override {
        State& s = state();
        Answer answer = defaultAnswer;
        if (!s.steps.empty() && s.steps.front().verb == "msgbox") {
            // "msgbox ANSWER [MS]": the answer, and how long the user takes to give it.
            const QStringList words = s.steps.front().text.simplified().split(' ');
            holdMs = words.value(1).toInt();
            Answer wanted;
            if (platform::parseAnswer(words.value(0), wanted) && platform::allows(buttons, wanted))
                answer = wanted;
            else
                record("error", {QString("line %1: answer '%2' does not fit %3")
                                     .arg(s.steps.front().line)
                                     .arg(s.steps.front().text, platform::toString(buttons))});
            s.steps.pop_front();
        }
        captureAll();
        return answer;
    }

    std::optional<QString> answerInputBox() override {
        State& s = state();
        if (s.steps.empty() || s.steps.front().verb != "input")
            return std::nullopt;
        const QString answer = s.steps.front().text;
        s.steps.pop_front();
        return answer;
    }
};

Runner& runner() {
    static Runner r;
    return r;
}

} // namespace

void install() {
    platform::hook::setScript(&runner());
}

void drive(const QString& scriptText, platform::hook::Sink sink) {
    install();
    queueSteps(scriptText);
    if (platform::hook::attach(std::move(sink)))
        startPump(qEnvironmentVariableIntValue("ZELVOR_TEST_TIMEOUT"));
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

} // namespace krv::scripting
