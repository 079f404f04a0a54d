#include "platform/dialogs.h"

#include "platform/test_hook.h"

#include <QCoreApplication>

namespace krv::platform {

namespace {

struct ButtonSet {
    Buttons buttons;
    const char* name;
    std::initializer_list<Answer> answers;
};

const ButtonSet kButtonSets[] = {
    {Buttons::OK, "OK", {Answer::OK}},
    {Buttons::OKCancel, "OKCancel", {Answer::OK, Answer::Cancel}},
    {Buttons::AbortRetryIgnore, "AbortRetryIgnore", {Answer::Abort, Answer::Retry, Answer::Ignore}},
    {Buttons::YesNoCancel, "YesNoCancel", {Answer::Yes, Answer::No, Answer::Cancel}},
    {Buttons::YesNo, "YesNo", {Answer::Yes, Answer::No}},
    {Buttons::RetryCancel, "RetryCancel", {Answer::Retry, Answer::Cancel}},
};

const ButtonSet& setOf(Buttons b) {
    for (const auto& s : kButtonSets)
        if (s.buttons == b)
            return s;
    return kButtonSets[0];
}

QString titleOrAppName(const QString& title) {
    return title.isEmpty() ? QCoreApplication::applicationName() : title;
}

} // namespace

namespace {
BoxShower& shower() {
    static BoxShower installed;
    return installed;
}

QString& lastText() {
    static QString text;
    return text;
}
} // namespace

void setBoxShower(BoxShower boxes) {
    shower() = std::move(boxes);
}

QString lastMessage() {
    return lastText();
}

Answer msgBox(const QString& text, Buttons buttons, Icon icon, const QString& title,
              std::optional<Answer> defaultAnswer) {
    lastText() = text;
    const QString shownTitle = titleOrAppName(title);
    const ButtonSet& set = setOf(buttons);
    Answer preferred = *set.answers.begin();
    for (Answer a : set.answers)
        if (defaultAnswer && a == *defaultAnswer)
            preferred = a;
    if (auto scripted = hook::answerMsgBox(text, buttons, icon, shownTitle, preferred))
        return *scripted;

    // No box can be shown without windows: the default answer, as Enter would give.
    return shower().message ? shower().message(text, set.answers, icon, shownTitle, preferred)
                            : preferred;
}

QString inputBox(const QString& prompt, const QString& title, const QString& defaultText) {
    const QString shownTitle = titleOrAppName(title);
    if (auto scripted = hook::answerInputBox(prompt, shownTitle, defaultText))
        return *scripted;
    // Without windows nobody types: as if cancelled.
    return shower().input ? shower().input(prompt, shownTitle, defaultText) : QString();
}

QString toString(Buttons b) {
    return QString::fromLatin1(setOf(b).name);
}

QString toString(Icon i) {
    switch (i) {
    case Icon::None:
        return "none";
    case Icon::Critical:
        return "critical";
    case Icon::Question:
        return "question";
    case Icon::Exclamation:
        return "exclamation";
    case Icon::Information:
        return "information";
    }
    return "none";
}

QString toString(Answer a) {
    switch (a) {
    case Answer::OK:
        return "OK";
    case Answer::Cancel:
        return "Cancel";
    case Answer::Abort:
        return "Abort";
    case Answer::Retry:
        return "Retry";
    case Answer::Ignore:
        return "Ignore";
    case Answer::Yes:
        return "Yes";
    case Answer::No:
        return "No";
    }
    return "OK";
}

bool parseAnswer(const QString& name, Answer& out) {
    for (Answer a : {Answer::OK, Answer::Cancel, Answer::Abort, Answer::Retry, Answer::Ignore,
                     Answer::Yes, Answer::No}) {
        if (toString(a).compare(name, Qt::CaseInsensitive) == 0) {
            out = a;
            return true;
        }
    }
    return false;
}

bool allows(Buttons b, Answer a) {
    for (Answer x : setOf(b).answers)
        if (x == a)
            return true;
    return false;
}

} // namespace krv::platform
