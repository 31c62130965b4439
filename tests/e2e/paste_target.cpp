// A program to paste into: one multi-line text field with the keyboard
// focus. On standard output it says "text <hex of the field's UTF-8>" on
// every change, and "focus in" or "focus out" as its window gains or loses
// the keyboard focus.
#include <QApplication>
#include <QPlainTextEdit>
#include <QWindow>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QPlainTextEdit field;
    field.setWindowTitle(QStringLiteral("paste target"));
    field.resize(400, 200);
    const auto say = [](const QByteArray& line) {
        std::printf("%s\n", line.constData());
        std::fflush(stdout);
    };
    QObject::connect(&field, &QPlainTextEdit::textChanged,
                     [&] { say("text " + field.toPlainText().toUtf8().toHex()); });
    QObject::connect(&app, &QGuiApplication::focusWindowChanged,
                     [&](QWindow* window) { say(window != nullptr ? "focus in" : "focus out"); });
    field.show();
    return QApplication::exec();
}
