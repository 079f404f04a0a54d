#include "platform/windowed.h"

#include "platform/dialogs.h"
#include "platform/program.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QWidget>

namespace krv::platform {

namespace {

QMessageBox::StandardButton qtButton(Answer a) {
    switch (a) {
    case Answer::OK:
        return QMessageBox::Ok;
    case Answer::Cancel:
        return QMessageBox::Cancel;
    case Answer::Abort:
        return QMessageBox::Abort;
    case Answer::Retry:
        return QMessageBox::Retry;
    case Answer::Ignore:
        return QMessageBox::Ignore;
    case Answer::Yes:
        return QMessageBox::Yes;
    case Answer::No:
        return QMessageBox::No;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon qtIcon(Icon i) {
    switch (i) {
    case Icon::None:
        return QMessageBox::NoIcon;
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::Exclamation:
        return QMessageBox::Warning;
    case Icon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

Answer showMessage(const QString& text, std::initializer_list<Answer> answers, Icon icon,
                   const QString& title, Answer preferred) {
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::NoButton, QApplication::activeWindow());
    for (Answer a : answers)
        box.addButton(qtButton(a));
    box.setDefaultButton(qtButton(preferred));
    const int pressed = box.exec();
    for (Answer a : answers)
        if (pressed == qtButton(a))
            return a;
    // Closed by the window frame: the cancelling button where there is one.
    for (Answer a : answers)
        if (a == Answer::Cancel || a == Answer::No)
            return a;
    return *answers.begin();
}

QString showInput(const QString& prompt, const QString& title, const QString& defaultText) {
    bool ok = false;
    QString text = QInputDialog::getText(QApplication::activeWindow(), title, prompt,
                                         QLineEdit::Normal, defaultText, &ok);
    return ok ? text : QString();
}

} // namespace

void installWindowed() {
    setBoxShower({showMessage, showInput});
    // The original's End: the windows go with the process.
    windowsAtEnd() = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            w->hide();
    };
}

} // namespace krv::platform
