#include "platform/instance/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <cstring>

namespace brimlet::platform {
namespace {

TEST(InstanceRequest, OnlyTheOpenWordsAskForThePanel) {
    for (const char* message : {"open", "open\n", "open\r\n", "show", "show\n"}) {
        EXPECT_EQ(parseInstanceRequest(message), InstanceRequest::OpenPanel) << message;
    }
    EXPECT_EQ(parseInstanceRequest(openPanelMessage()), InstanceRequest::OpenPanel);
    for (const char* message : {"", "\n", "op", "opened\n", "OPEN\n", " open\n", "open \n",
                                "open\r", "open\n\n", "open\nshow\n", "\nopen", "quit\n"}) {
        EXPECT_EQ(parseInstanceRequest(message), InstanceRequest::None) << message;
    }
    EXPECT_EQ(parseInstanceRequest(QByteArray("open\0\n", 6)), InstanceRequest::None);
    EXPECT_EQ(parseInstanceRequest(QByteArray("open\n").repeated(1000)), InstanceRequest::None);
}

TEST(InstanceName, OneNamePerUserAndDisplay) {
    // The screen and the local-socket host do not make another X session.
    EXPECT_EQ(sessionKey("xcb", ":0"), "x11-0");
    EXPECT_EQ(sessionKey("xcb", ":0.1"), "x11-0");
    EXPECT_EQ(sessionKey("xcb", "unix:0.0"), "x11-0");
    EXPECT_NE(sessionKey("xcb", ":1"), sessionKey("xcb", ":10"));
    EXPECT_EQ(sessionKey("xcb", "remote.example:10.0"), "x11-remote.example-10");
    EXPECT_EQ(sessionKey("wayland", "wayland-1"), "wl-wayland-1");
    EXPECT_EQ(sessionKey("wayland", ""), "wl-wayland-0");
    EXPECT_EQ(sessionKey("offscreen", ""), "offscreen");
    EXPECT_EQ(sessionKey("", ""), "none");

    // Whatever the environment says, the key stays one plain file name.
    for (const QString& display :
         {QString("../../etc/passwd"), QString("/run/user/1000/wl-0"), QString(".hidden"),
          QString("a b\tc\nd"), QString::fromUtf8("wayland-\xC3\xA9"), QString(300, 'x')}) {
        const QString key = sessionKey("wayland", display);
        EXPECT_FALSE(key.contains('/')) << key.toStdString();
        EXPECT_FALSE(key.startsWith('.')) << key.toStdString();
        EXPECT_LE(key.size(), 40) << key.toStdString();
        for (const QChar c : key) {
            EXPECT_TRUE((c.isLetterOrNumber() && c.unicode() < 128) || c == '-' || c == '_' ||
                        c == '.')
                << key.toStdString();
        }
    }
    // Long names are shortened without running together.
    EXPECT_NE(sessionKey("wayland", QString(100, 'a') + "1"),
              sessionKey("wayland", QString(100, 'a') + "2"));
}

TEST(InstanceName, InTheRuntimeDirectoryWhenThereIsOne) {
    const QTemporaryDir runtime;
    const QTemporaryDir temp;
    const QString name = instanceServerName(1000, "x11-0", runtime.path(), temp.path());
    EXPECT_EQ(name, runtime.filePath("brimlet-1000-x11-0"));
    EXPECT_NE(instanceServerName(1001, "x11-0", runtime.path(), temp.path()), name);

    const QString fallback = temp.filePath("brimlet-1000-x11-0");
    EXPECT_EQ(instanceServerName(1000, "x11-0", "", temp.path()), fallback);
    EXPECT_EQ(instanceServerName(1000, "x11-0", "relative/dir", temp.path()), fallback);
    EXPECT_EQ(instanceServerName(1000, "x11-0", runtime.filePath("missing"), temp.path()),
              fallback);
    // A socket path must fit the address; a deep runtime directory is passed over.
    const QString deep = runtime.filePath(QString(90, 'd'));
    ASSERT_TRUE(QDir().mkpath(deep));
    EXPECT_EQ(instanceServerName(1000, "x11-0", deep, temp.path()), fallback);
}

class SingleInstanceTest : public ::testing::Test {
  protected:
    [[nodiscard]] QString name() const { return dir_.filePath("brimlet-test"); }

    // Sends `bytes` as a later start would, and closes.
    void send(const QByteArray& bytes) const {
        QLocalSocket client;
        client.connectToServer(name());
        ASSERT_TRUE(client.waitForConnected(1000));
        client.write(bytes);
        client.flush();
        client.disconnectFromServer();
    }

    QTemporaryDir dir_;
};

TEST_F(SingleInstanceTest, ALaterStartHandsOverToTheRunningOne) {
    SingleInstance first(name());
    int requests = 0;
    first.onOpenRequested([&] { ++requests; });
    ASSERT_EQ(first.claim(), SingleInstance::Role::Primary);

    {
        SingleInstance second(name());
        EXPECT_EQ(second.claim(), SingleInstance::Role::HandedOff);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests == 1; }, 2000));

    SingleInstance third(name());
    EXPECT_EQ(third.claim(), SingleInstance::Role::HandedOff);
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests == 2; }, 2000));
}

TEST_F(SingleInstanceTest, TheSocketOfACrashedInstanceIsTakenOver) {
    // What a killed instance leaves: a socket file that nobody listens on.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(name());
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(name()));

    SingleInstance revived(name());
    int requests = 0;
    revived.onOpenRequested([&] { ++requests; });
    ASSERT_EQ(revived.claim(), SingleInstance::Role::Primary);
    SingleInstance later(name());
    EXPECT_EQ(later.claim(), SingleInstance::Role::HandedOff);
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests == 1; }, 2000));
}

TEST_F(SingleInstanceTest, StrayClientsAskForNothingAndHoldNothingUp) {
    SingleInstance running(name());
    int requests = 0;
    running.onOpenRequested([&] { ++requests; });
    ASSERT_EQ(running.claim(), SingleInstance::Role::Primary);

    // A client that connects and says nothing stays connected for a while...
    QLocalSocket silent;
    silent.connectToServer(name());
    ASSERT_TRUE(silent.waitForConnected(1000));

    send("rm -rf /\n");
    send("openopenopen\n");
    send(QByteArray(100000, 'o'));
    send(QByteArray("open\0", 5));
    QTest::qWait(200);
    EXPECT_EQ(requests, 0);

    // ...without keeping a real request waiting; a word without a line end
    // counts once the client closes.
    send("show");
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests == 1; }, 2000));
    EXPECT_EQ(silent.state(), QLocalSocket::ConnectedState);

    // ...and is dropped in the end.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(requests, 1);
}

// The program itself, on Qt's offscreen platform (no tray there), in a
// runtime directory of its own.
class SecondStart : public ::testing::Test {
  protected:
    void SetUp() override {
        environment_ = QProcessEnvironment::systemEnvironment();
        environment_.insert("QT_QPA_PLATFORM", "offscreen");
        environment_.insert("XDG_RUNTIME_DIR", runtime_.path());
        environment_.remove("DISPLAY");
        environment_.remove("WAYLAND_DISPLAY");
    }

    void start(QProcess& brimlet) const {
        brimlet.setProcessEnvironment(environment_);
        brimlet.start(BRIMLET_EXECUTABLE, {});
        ASSERT_TRUE(brimlet.waitForStarted(5000));
    }

    // The running instance's socket, once it listens.
    [[nodiscard]] bool listening() const {
        return QFile::exists(instanceServerName(::getuid(), "offscreen", runtime_.path(), ""));
    }

    // A later start: ends with status 0 and nothing said.
    void startAgainAndExpectHandOver() const {
        QProcess later;
        start(later);
        ASSERT_TRUE(later.waitForFinished(5000));
        EXPECT_EQ(later.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(later.exitCode(), 0);
        EXPECT_FALSE(later.readAllStandardError().contains("brimlet:"));
    }

    QTemporaryDir runtime_;
    QProcessEnvironment environment_;
};

TEST_F(SecondStart, HandsOverAndEndsAndAKilledInstanceDoesNotBlockANewOne) {
    QProcess first;
    start(first);
    QByteArray said;
    const auto hasSaid = [&](QProcess& process) {
        said += process.readAllStandardError();
        return said.contains("brimlet: no system tray is available");
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return listening() && hasSaid(first); }, 10000));
    startAgainAndExpectHandOver();
    startAgainAndExpectHandOver();
    EXPECT_EQ(first.state(), QProcess::Running);
    // Without a tray it said so once, and keeps running.
    hasSaid(first);
    EXPECT_EQ(said.count("brimlet: no system tray is available"), 1) << said.toStdString();

    first.kill();
    ASSERT_TRUE(first.waitForFinished(5000));
    ASSERT_TRUE(listening()) << "the killed instance's socket should still be there";

    QProcess revived;
    start(revived);
    said.clear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return hasSaid(revived); }, 10000));
    EXPECT_EQ(revived.state(), QProcess::Running);
    startAgainAndExpectHandOver();
    EXPECT_EQ(revived.state(), QProcess::Running);
    revived.kill();
    revived.waitForFinished(5000);
}

}  // namespace
}  // namespace brimlet::platform
