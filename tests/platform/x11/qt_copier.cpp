// A Qt program that copies a text and ends, as people's programs do:
//   brimlet_qt_copier TEXT
// Prints "copied" once it owns the clipboard, then quits after a moment. On
// its way out Qt asks a clipboard manager, if one runs, to save the text,
// and waits for the answer.
#include <QClipboard>
#include <QGuiApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: brimlet_qt_copier TEXT\n", stderr);
        return 2;
    }
    QGuiApplication::clipboard()->setText(QString::fromUtf8(argv[1]));
    std::puts("copied");
    std::fflush(stdout);
    QTimer::singleShot(300, &app, &QCoreApplication::quit);
    return QGuiApplication::exec();
}
