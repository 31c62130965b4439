#include "platform/instance/single_instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QRegularExpression>
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
        EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,39}$").match(key).hasMatch())
            << key.toStdString();
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

TEST_F(SingleInstanceTest, LaterStartsHandOverEvenAfterACrashAndStrayClientsHoldNothingUp) {
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
    for (int later = 1; later <= 2; ++later) {
        SingleInstance again(name());
        EXPECT_EQ(again.claim(), SingleInstance::Role::HandedOff);
        EXPECT_TRUE(QTest::qWaitFor([&] { return requests == later; }, 2000));
    }

    // A client that connects and says nothing stays connected for a while...
    QLocalSocket silent;
    silent.connectToServer(name());
    ASSERT_TRUE(silent.waitForConnected(1000));

    send(QByteArray(100000, 'o'));
    send(QByteArray("open\0", 5));
    QTest::qWait(200);
    EXPECT_EQ(requests, 2);

    // ...without keeping a real request waiting; a word without a line end
    // counts once the client closes.
    send("show");
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests == 3; }, 2000));
    EXPECT_EQ(silent.state(), QLocalSocket::ConnectedState);

    // ...and is dropped in the end.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(requests, 3);
}

}  // namespace
}  // namespace brimlet::platform
