#include <gtest/gtest.h>

#include <QCursor>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QtTest/QTest>

#include "panel/shelf_view.h"
#include "platform/fake/fake_pasteboard.h"
#include "platform/fake/fake_scheduling.h"
#include "shell/app_delegate.h"
#include "shell/brimlet_app.h"

namespace brimlet {
namespace {

using platform::ui::panelGeometry;

ShelfView* openShelf(platform::ui::MenuBarExtra& scene) {
    // A closing panel ignores activations for a moment (the click that
    // closed it is also one); wait that out.
    QTest::qWait(350);
    scene.togglePanel();
    return qobject_cast<ShelfView*>(scene.panel().content());
}

TEST(TrayScene, WorksWithoutATrayHostAndOpensAFreshPanelEachTime) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    const BrimletApp app;
    const auto scene = app.body();
    EXPECT_EQ(scene->trayIcon().toolTip(), "Brimlet");
    EXPECT_FALSE(scene->trayIcon().icon().isNull());

    QPointer<ShelfView> first = openShelf(*scene);
    ASSERT_TRUE(first);
    EXPECT_TRUE(scene->panel().isVisible());
    EXPECT_EQ(scene->panel().size(), QSize(340, 420));
    EXPECT_TRUE(scene->panel().windowFlags().testFlag(Qt::FramelessWindowHint));
    auto* search = first->findChild<QLineEdit*>("search");
    EXPECT_TRUE(search->text().isEmpty());
    search->setText("typed");

    scene->togglePanel();
    EXPECT_FALSE(scene->panel().isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());

    // An activation right after closing is the same click: no reopening.
    scene->togglePanel();
    EXPECT_FALSE(scene->panel().isVisible());

    ShelfView* second = openShelf(*scene);
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(second->findChild<QLineEdit*>("search")->text().isEmpty());

    QTest::keyClick(&scene->panel(), Qt::Key_Escape);
    EXPECT_FALSE(scene->panel().isVisible());
}

TEST(TrayScene, ALaterStartOpensThePanelWithoutAnIcon) {
    ASSERT_FALSE(platform::ui::MenuBarExtra::trayHostAvailable());
    const BrimletApp app;
    const auto scene = app.body();
    auto& panel = scene->panel();

    scene->openPanel();
    ASSERT_TRUE(panel.isVisible());
    const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    ASSERT_NE(screen, nullptr);
    EXPECT_EQ(panel.geometry().topRight(), screen->availableGeometry().topRight());
    auto* search = panel.content()->findChild<QLineEdit*>("search");
    ASSERT_NE(search, nullptr);
    search->setText("typed");

    // Asking again leaves it open, with what was typed.
    scene->openPanel();
    EXPECT_TRUE(panel.isVisible());
    EXPECT_EQ(panel.content()->findChild<QLineEdit*>("search")->text(), "typed");

    // Unlike a click on the icon, a request right after closing opens it.
    panel.close();
    scene->openPanel();
    EXPECT_TRUE(panel.isVisible());
    panel.close();
}

TEST(TrayScene, SaysInOneLineThatThereIsNoTray) {
    for (const bool docksLater : {true, false}) {
        const QString message = QString::fromUtf8(noTrayHostMessage(docksLater));
        EXPECT_TRUE(message.startsWith("brimlet: no system tray is available"))
            << message.toStdString();
        EXPECT_EQ(message.count('\n'), 1);
        EXPECT_TRUE(message.endsWith(".\n"));
    }
}

TEST(TrayScene, PaperclipIconDrawsSomething) {
    const QImage image = paperclipIcon().pixmap(QSize(22, 22)).toImage();
    ASSERT_FALSE(image.isNull());
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            inked += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    EXPECT_GT(inked, 20);
}

TEST(PanelPlacement, NextToTheIconAndInsideTheScreen) {
    const QSize panel(340, 420);
    const QRect screen(0, 24, 1280, 776);  // below a top bar
    // Icon in a top bar near the right edge: below it, pushed inside.
    EXPECT_EQ(panelGeometry(panel, QRect(1257, 1, 22, 22), screen), QRect(940, 24, 340, 420));
    // Icon in the middle of a top bar: centred under it.
    EXPECT_EQ(panelGeometry(panel, QRect(629, 1, 23, 22), screen), QRect(470, 24, 340, 420));
    // Icon in a bottom bar: above it.
    const QRect above = panelGeometry(panel, QRect(100, 778, 22, 22), QRect(0, 0, 1280, 776));
    EXPECT_EQ(above, QRect(0, 356, 340, 420));
    // No icon rectangle: the top-right corner of the screen.
    EXPECT_EQ(panelGeometry(panel, QRect(), screen), QRect(940, 24, 340, 420));
    // A screen smaller than the panel: its top-left corner wins.
    EXPECT_EQ(panelGeometry(panel, QRect(10, 10, 22, 22), QRect(0, 0, 300, 300)).topLeft(),
              QPoint(0, 0));
}

TEST(AppDelegate, StartsPollingOnlyAfterLaunchingHasFinished) {
    platform::FakePasteboard board;
    platform::FakeTimerScheduler timers;
    platform::FakeMainExecutor queue;
    const auto store = ClipStore::make({
        .generalPasteboard = [&]() -> platform::Pasteboard& { return board; },
        .timers = &timers,
        .mainExecutor = &queue,
    });
    board.copyFromOtherApp("on the clipboard at launch");
    int storeRequests = 0;
    AppDelegate delegate(queue, [&]() -> ClipStore& {
        ++storeRequests;
        return *store;
    });

    QGuiApplication::setQuitOnLastWindowClosed(true);
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());
    EXPECT_EQ(storeRequests, 0);
    EXPECT_EQ(timers.timerCount(), 0U);

    queue.runAll();
    EXPECT_EQ(storeRequests, 1);
    EXPECT_EQ(timers.timerCount(), 1U);
    ASSERT_EQ(store->items().size(), 1U);
    EXPECT_EQ(store->items()[0].text.bytes(), "on the clipboard at launch");
}

TEST(Entry, WithoutADisplayExplainsAndFails) {
    QProcess brimlet;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        environment.remove(name);
    }
    brimlet.setProcessEnvironment(environment);
    brimlet.start(BRIMLET_EXECUTABLE, {});
    ASSERT_TRUE(brimlet.waitForFinished(10000));
    EXPECT_EQ(brimlet.exitStatus(), QProcess::NormalExit);
    EXPECT_NE(brimlet.exitCode(), 0);
    const QString message = QString::fromUtf8(brimlet.readAllStandardError()).trimmed();
    EXPECT_TRUE(message.contains("display")) << message.toStdString();
    EXPECT_FALSE(message.contains('\n')) << message.toStdString();
}

}  // namespace
}  // namespace brimlet
