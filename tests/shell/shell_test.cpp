#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest/QTest>

#include "panel/shelf_view.h"
#include "shell/brimlet_app.h"

namespace brimlet {
namespace {

using platform::ui::iconAround;
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
    EXPECT_EQ(scene->title(), "Brimlet");
    const QImage icon = scene->icon().pixmap(QSize(22, 22)).toImage();
    QImage blank(icon.size(), icon.format());
    blank.fill(Qt::transparent);
    EXPECT_NE(icon, blank) << "the paperclip draws nothing";

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
    // A screen smaller than the panel: its top-left corner wins.
    EXPECT_EQ(panelGeometry(panel, QRect(10, 10, 22, 22), QRect(0, 0, 300, 300)).topLeft(),
              QPoint(0, 0));
}

TEST(PanelPlacement, FromTheClickWhenTheTrayNamesNoIconRectangle) {
    const QSize panel(340, 420);
    const QRect screen(0, 0, 1280, 800);
    // A click in a bar of unknown height at the top: the bar is taken to
    // reach as far below the click as above it, and the panel opens below.
    const QRect top = panelGeometry(panel, iconAround(QPoint(15, 15), screen), screen);
    EXPECT_EQ(top.topLeft(), QPoint(0, 31));
    // At the bottom: above the bar.
    const QRect bottom = panelGeometry(panel, iconAround(QPoint(600, 785), screen), screen);
    EXPECT_EQ(bottom, QRect(430, 351, 340, 420));
    // A click far from any edge was on no bar: the panel opens beside it.
    EXPECT_EQ(iconAround(QPoint(600, 400), screen), QRect(600, 400, 1, 1));
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
