// The least a Qt tray program can be: an application object and one tray
// icon. bench_memory sets Brimlet's footprint beside this one's.
#include <QApplication>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QPixmap pixmap(22, 22);
    pixmap.fill(QColor(0x3d, 0x7e, 0xd6));
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setToolTip(QStringLiteral("tray_only"));
    tray.show();
    return QApplication::exec();
}
