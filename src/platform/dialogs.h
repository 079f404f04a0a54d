#pragma once
// Message box and input box, as the program's windows ask for them. Under the test hook
// they are answered from its script and written to its transcript instead of shown. The boxes
// themselves are the windows' (platform/windowed installs them): without windows a message
// takes its default answer and an input box is cancelled.
#include <QString>
#include <functional>
#include <initializer_list>
#include <optional>

namespace krv::platform {

enum class Buttons { OK, OKCancel, AbortRetryIgnore, YesNoCancel, YesNo, RetryCancel };
enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Answer { OK, Cancel, Abort, Retry, Ignore, Yes, No };

// Shows a modal message box; returns the button pressed. An empty title means the
// application's own name, as the original runtime did. The default button is the first
// unless defaultAnswer names another of the box's buttons (a question whose safe answer is
// No); Enter, and the test hook when not told otherwise, press it.
Answer msgBox(const QString& text, Buttons buttons = Buttons::OK, Icon icon = Icon::None,
              const QString& title = {}, std::optional<Answer> defaultAnswer = std::nullopt);

// Shows a modal input box; returns the text typed, or empty text when cancelled.
QString inputBox(const QString& prompt, const QString& title = {}, const QString& defaultText = {});

// How boxes are shown when no script answers them.
struct BoxShower {
    std::function<Answer(const QString& text, std::initializer_list<Answer> answers, Icon icon,
                         const QString& title, Answer preferred)>
        message;
    std::function<QString(const QString& prompt, const QString& title, const QString& text)> input;
};
void setBoxShower(BoxShower boxes);

// The text of the last message box shown (empty before the first).
QString lastMessage();

QString toString(Buttons b);
QString toString(Icon i);
QString toString(Answer a);
// Parses an answer name ("OK", "Yes", ...); false when the name is unknown.
bool parseAnswer(const QString& name, Answer& out);
// Whether a box with these buttons offers that answer.
bool allows(Buttons b, Answer a);

} // namespace krv::platform
