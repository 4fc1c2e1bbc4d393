// A small window for integration tests of the workspace and accessibility
// layers: a line edit and a password field, one of them focused.
//
//   parlowen_test_text_window [--focus line|password] [--title TEXT] [--text TEXT]
//                             [--dialog modal|modeless]
//
// With --dialog, a dialog with a line edit of its own opens over the window
// and has the focus. Prints "ready window=<id>" once shown, then
// "line=<text>", "password=<text>" or "dialog=<text>" whenever a field
// changes (the line edit then also "line-utf16=<length> caret=<position>",
// in UTF-16 units), "selection=<text>" whenever the line edit's selection
// does, and "focused" whenever one of its windows gets the keyboard focus.

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <QWidget>

#include <cstdio>
#include <string>

namespace {
void say(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QString focus = "line";
    QString title = "Parlowen test window";
    QString text;
    QString dialogKind;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string flag = argv[i];
        QString value = QString::fromUtf8(argv[i + 1]);
        if (flag == "--focus") focus = value;
        else if (flag == "--title") title = value;
        else if (flag == "--text") text = value;
        else if (flag == "--dialog") dialogKind = value;
    }

    QWidget window;
    window.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&window);
    auto* line = new QLineEdit(text);
    line->setAccessibleName("Line");
    auto* password = new QLineEdit;
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName("Password");
    layout->addWidget(line);
    layout->addWidget(password);
    QObject::connect(line, &QLineEdit::textChanged, [line](const QString& t) {
        say("line=" + t);
        // Counts that a NUL in the text cannot cut short, once the caret has settled.
        QTimer::singleShot(0, line, [line] {
            say(QString("line-utf16=%1 caret=%2").arg(line->text().size()).arg(line->cursorPosition()));
        });
    });
    QObject::connect(line, &QLineEdit::selectionChanged, [line] { say("selection=" + line->selectedText()); });
    QObject::connect(password, &QLineEdit::textChanged, [](const QString& t) { say("password=" + t); });

    window.resize(400, 120);
    window.show();
    // Without a window manager the window gets the focus only when it asks.
    window.activateWindow();
    (focus == "password" ? password : line)->setFocus();

    QDialog dialog(&window);
    if (!dialogKind.isEmpty()) {
        dialog.setWindowTitle(title + " dialog");
        auto* dialogLayout = new QVBoxLayout(&dialog);
        auto* dialogLine = new QLineEdit;
        dialogLine->setAccessibleName("Dialog line");
        dialogLayout->addWidget(dialogLine);
        QObject::connect(dialogLine, &QLineEdit::textChanged, [](const QString& t) { say("dialog=" + t); });
        dialog.setModal(dialogKind == "modal");
        dialog.show();
        dialog.activateWindow();
        dialogLine->setFocus();
    }
    QTimer::singleShot(0, [&window] { say(QString("ready window=%1").arg(window.winId())); });
    // Key events reach the fields only once the window system has given the
    // window the focus: tests that type wait for this line.
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, [](QWindow* w) {
        if (w) say("focused");
    });
    return app.exec();
}
