#include "platform/instance/single_instance.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <cstring>
#include <functional>
#include <future>
#include <list>

namespace brimlet::platform {
namespace {

TEST(InstanceRequest, OnlyWholeKnownWordsAskForAnything) {
    for (const char* message : {"open", "open\n", "open\r\n", "show", "show\n"}) {
        EXPECT_EQ(parseInstanceRequest(message), InstanceRequest::OpenPanel) << message;
    }
    EXPECT_EQ(parseInstanceRequest(requestMessage(InstanceRequest::OpenPanel)),
              InstanceRequest::OpenPanel);
    EXPECT_EQ(parseInstanceRequest(requestMessage(InstanceRequest::Pause)), InstanceRequest::Pause);
    EXPECT_EQ(parseInstanceRequest(requestMessage(InstanceRequest::Resume)),
              InstanceRequest::Resume);
    for (const char* message :
         {"", "\n", "op", "opened\n", "OPEN\n", " open\n", "open \n", "open\r", "open\n\n",
          "open\nshow\n", "\nopen", "quit\n", "pause resume\n"}) {
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

// Binds a socket at `path` and closes it, as a killed process leaves it.
void leaveDeadSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

mode_t modeOf(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(InstanceName, OnlyInADirectoryNobodyElseMayUse) {
    const unsigned uid = ::getuid();
    const QTemporaryDir runtime;  // made 0700
    const QTemporaryDir temp;
    const QString name = instanceServerName(uid, "x11-0", runtime.path(), temp.path());
    EXPECT_EQ(name, runtime.filePath(QString("brimlet-%1-x11-0").arg(uid)));
    EXPECT_NE(instanceServerName(uid, "x11-1", runtime.path(), temp.path()), name);

    // Without a usable runtime directory: a directory of our own, made 0700.
    const QString own = temp.filePath(QString("brimlet-%1").arg(uid));
    const QString fallback = QDir(own).filePath(QString("brimlet-%1-x11-0").arg(uid));
    QFile::setPermissions(temp.path(), QFile::Permissions(0x7777));
    for (const QString& runtimeDir :
         {QString(), QString("relative/dir"), runtime.filePath("missing")}) {
        EXPECT_EQ(instanceServerName(uid, "x11-0", runtimeDir, temp.path()), fallback);
    }
    EXPECT_EQ(modeOf(own), 0700U);
    // A runtime directory that others may enter is passed over.
    const QString open = runtime.filePath("open");
    ASSERT_TRUE(QDir().mkdir(open));
    ::chmod(QFile::encodeName(open).constData(), 0755);
    EXPECT_EQ(instanceServerName(uid, "x11-0", open, temp.path()), fallback);
    // A socket path must fit the address; a deep runtime directory is passed over.
    const QString deep = runtime.filePath(QString(90, 'd'));
    ASSERT_TRUE(QDir().mkpath(deep));
    EXPECT_EQ(instanceServerName(uid, "x11-0", deep, temp.path()), fallback);

    // Our directory in the temporary one is refused unless it is a real
    // directory with mode 0700: never a link, even to a good directory.
    const QTemporaryDir shared;
    const QString ours = shared.filePath(QString("brimlet-%1").arg(uid));
    ASSERT_TRUE(QFile::link(runtime.path(), ours));
    EXPECT_EQ(instanceServerName(uid, "x11-0", "", shared.path()), QString());
    QFile::remove(ours);
    ASSERT_TRUE(QDir().mkdir(ours));
    ::chmod(QFile::encodeName(ours).constData(), 0755);
    EXPECT_EQ(instanceServerName(uid, "x11-0", "", shared.path()), QString());
    QDir(ours).removeRecursively();
    QFile file(ours);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    EXPECT_EQ(instanceServerName(uid, "x11-0", "", shared.path()), QString());
}

// Claims as a later start does, from a thread of its own, while this thread's
// event loop serves the running instance.
SingleInstance::Role claimFromAnotherStart(const QString& name) {
    auto later = std::async(std::launch::async, [name] {
        SingleInstance instance(name);
        return instance.claim();
    });
    // get() below waits for whatever is left.
    (void)QTest::qWaitFor(
        [&] { return later.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        10000);
    return later.get();
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
    leaveDeadSocket(name());
    ASSERT_TRUE(QFile::exists(name()));

    SingleInstance revived(name());
    int requests = 0;
    revived.onRequest([&](InstanceRequest) { ++requests; });
    ASSERT_EQ(revived.claim(), SingleInstance::Role::Primary);
    for (int later = 1; later <= 2; ++later) {
        EXPECT_EQ(claimFromAnotherStart(name()), SingleInstance::Role::HandedOff);
        EXPECT_EQ(requests, later) << "handed off before the request was taken";
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

    // Many silent clients crowd out nobody: the oldest give way.
    std::list<QLocalSocket> crowd;
    for (int i = 0; i < 40; ++i) {
        crowd.emplace_back().connectToServer(name());
        ASSERT_TRUE(crowd.back().waitForConnected(1000));
    }
    QTest::qWait(50);
    EXPECT_EQ(claimFromAnotherStart(name()), SingleInstance::Role::HandedOff);
    EXPECT_EQ(requests, 4);
}

TEST_F(SingleInstanceTest, ARunningOneThatDoesNotAnswerIsReportedNotHandedTo) {
    // Listens and reads, but never answers: a hung Brimlet, or a stranger.
    QLocalServer mute;
    mute.setSocketOptions(QLocalServer::UserAccessOption);
    ASSERT_TRUE(mute.listen(name()));
    QByteArray heard;
    QObject::connect(&mute, &QLocalServer::newConnection, [&] {
        while (QLocalSocket* socket = mute.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead,
                             [&heard, socket] { heard += socket->readAll(); });
        }
    });
    EXPECT_EQ(claimFromAnotherStart(name()), SingleInstance::Role::Unreachable);
    EXPECT_TRUE(heard.startsWith("open"));
}

// Another local user, made for the test, who leaves things where Brimlet
// looks for its socket. Needs root; skipped otherwise.
class Squatter : public ::testing::Test {
  protected:
    static constexpr const char* kUser = "brimlet-squatter";

    static void SetUpTestSuite() {
        if (::getuid() != 0 || ::getpwnam(kUser) != nullptr) {
            return;
        }
        created_ = QProcess::execute("useradd", {"--system", "--no-create-home", "--shell",
                                                 "/usr/sbin/nologin", kUser}) == 0;
    }
    static void TearDownTestSuite() {
        if (created_) {
            QProcess::execute("userdel", {kUser});
        }
    }

    void SetUp() override {
        if (::getuid() != 0) {
            GTEST_SKIP() << "squatting needs a second local user, which only root can make "
                            "for the test (CI runs as root)";
        }
        const passwd* user = ::getpwnam(kUser);
        ASSERT_NE(user, nullptr) << "useradd " << kUser << " failed";
        uid_ = user->pw_uid;
        gid_ = user->pw_gid;
        // Like /tmp: everyone may write, nobody may remove others' files.
        ASSERT_EQ(::chmod(QFile::encodeName(tmp_.path()).constData(), 01777), 0);
    }

    // Runs `work` in a child process as the other user; true if it succeeded.
    [[nodiscard]] bool asSquatter(const std::function<bool()>& work) const {
        const pid_t child = ::fork();
        if (child == 0) {
            const bool done = ::setgid(gid_) == 0 && ::setuid(uid_) == 0 && work();
            ::_exit(done ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

    [[nodiscard]] QString at(const QString& file) const { return tmp_.filePath(file); }
    // Where a start with XDG_RUNTIME_DIR unset looks.
    [[nodiscard]] QString startName() const {
        return instanceServerName(::getuid(), "x11-7", "", tmp_.path());
    }

    QTemporaryDir tmp_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    static inline bool created_ = false;
};

TEST_F(Squatter, LinksNeverLeadAStartToAnotherSocket) {
    // The user's own socket elsewhere, which must hear nothing.
    const QTemporaryDir elsewhere;
    const QString victimFile = QString("brimlet-%1-x11-7").arg(::getuid());
    QLocalServer victim;
    ASSERT_TRUE(victim.listen(elsewhere.filePath(victimFile)));
    int connections = 0;
    QObject::connect(&victim, &QLocalServer::newConnection, [&] { ++connections; });

    const QString target = elsewhere.filePath(victimFile);
    const QString dir = QString("brimlet-%1").arg(::getuid());
    ASSERT_TRUE(asSquatter([&] {
        return ::symlink(QFile::encodeName(target).constData(),
                         QFile::encodeName(at(victimFile)).constData()) == 0 &&
               ::symlink(QFile::encodeName(elsewhere.path()).constData(),
                         QFile::encodeName(at(dir)).constData()) == 0;
    }));
    SingleInstance start(startName());
    EXPECT_EQ(start.claim(), SingleInstance::Role::Alone);
    EXPECT_FALSE(start.problem().isEmpty());
    QTest::qWait(100);
    EXPECT_EQ(connections, 0) << "the start talked to a socket it was led to";
}

TEST_F(Squatter, WhatOthersLeaveWhereTheSocketWasGetsNobodyToRunTwice) {
    const QString file = QString("brimlet-%1-x11-7").arg(::getuid());
    const QByteArray path = QFile::encodeName(at(file));
    ASSERT_TRUE(asSquatter([&] {
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
        return fd >= 0 && ::close(fd) == 0;
    }));
    SingleInstance first(startName());
    int requests = 0;
    first.onRequest([&](InstanceRequest) { ++requests; });
    ASSERT_EQ(first.claim(), SingleInstance::Role::Primary);
    EXPECT_EQ(claimFromAnotherStart(startName()), SingleInstance::Role::HandedOff);
    EXPECT_EQ(requests, 1);
}

TEST_F(Squatter, ADirectoryTakenByAnotherUserIsRefusedAndSaidSo) {
    const QString dir = at(QString("brimlet-%1").arg(::getuid()));
    ASSERT_TRUE(asSquatter([&] { return ::mkdir(QFile::encodeName(dir).constData(), 0777) == 0; }));
    ::chmod(QFile::encodeName(dir).constData(), 0700);  // even with the right mode
    SingleInstance start(startName());
    EXPECT_EQ(start.claim(), SingleInstance::Role::Alone);
    EXPECT_TRUE(start.problem().startsWith("brimlet: ")) << start.problem().toStdString();
    EXPECT_TRUE(
        QDir(dir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

}  // namespace
}  // namespace brimlet::platform
