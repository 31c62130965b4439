#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
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

TEST(Entry, AnswersItsCommandLineBeforeTouchingAnyClipboard) {
    // A display (offscreen) only where the case gets that far; an empty
    // QT_QPA_PLATFORM counts as none.
    struct Case {
        QStringList arguments;
        const char* platform;
        int status;
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {{}, "", 1, "", "display"},
        {{"--help"}, "", 0, "Usage: brimlet [--pause | --resume | --version | --help]", ""},
        {{"-h", "x"}, "", 0, "--pause", ""},
        {{"--bogus"}, "offscreen", 2, "", "'--bogus'"},
        {{"--pause", "a\nb\x1b"}, "offscreen", 2, "", "'a?b?'"},
    };
    const QTemporaryDir runtime;  // should one start after all: nothing shared
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess brimlet;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) {
            environment.remove(name);
        }
        environment.insert("XDG_RUNTIME_DIR", runtime.path());
        environment.insert("QT_QPA_PLATFORM", c.platform);
        brimlet.setProcessEnvironment(environment);
        brimlet.start(BRIMLET_EXECUTABLE, c.arguments);
        ASSERT_TRUE(brimlet.waitForFinished(10000));
        EXPECT_EQ(brimlet.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(brimlet.exitCode(), c.status);
        const QString out = QString::fromUtf8(brimlet.readAllStandardOutput());
        const QString err = QString::fromUtf8(brimlet.readAllStandardError());
        EXPECT_TRUE(*c.out == 0 ? out.isEmpty() : out.contains(c.out)) << out.toStdString();
        // Errors in one line; --help says nothing there.
        EXPECT_TRUE(*c.err == 0 ? err.isEmpty() : err.contains(c.err) && err.count('\n') == 1)
            << err.toStdString();
    }
}

}  // namespace
}  // namespace brimlet
