#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QtTest/QTest>

#include "panel/shelf_view.h"
#include "shell/brimlet_app.h"

namespace brimlet {
namespace {

TEST(TrayScene, WorksWithoutATrayHostAndOpensAFreshPanelEachTime) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    const BrimletApp app;
    const auto scene = app.body();
    EXPECT_EQ(scene->title(), "Brimlet");
    EXPECT_FALSE(scene->icon().isNull());
    // A closing panel ignores activations for a moment (the click that
    // closed it is also one); each opening waits that out.
    const auto open = [&] {
        QTest::qWait(350);
        scene->togglePanel();
        return qobject_cast<ShelfView*>(scene->panel().content());
    };

    QPointer<ShelfView> first = open();
    ASSERT_TRUE(first);
    EXPECT_EQ(scene->panel().size(), QSize(340, 420));
    EXPECT_TRUE(scene->panel().windowFlags().testFlag(Qt::FramelessWindowHint));
    first->findChild<QLineEdit*>("search")->setText("typed");
    scene->togglePanel();
    EXPECT_FALSE(scene->panel().isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    // An activation right after closing is the same click: no reopening.
    scene->togglePanel();
    EXPECT_FALSE(scene->panel().isVisible());

    const ShelfView* second = open();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(scene->panel().isVisible());
    EXPECT_TRUE(second->findChild<QLineEdit*>("search")->text().isEmpty());
    QTest::keyClick(&scene->panel(), Qt::Key_Escape);
    EXPECT_FALSE(scene->panel().isVisible());
}

TEST(Entry, WithoutADisplayExplainsInOneLineAndFails) {
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
    EXPECT_TRUE(message.contains("display") && !message.contains('\n')) << message.toStdString();
}

}  // namespace
}  // namespace brimlet
