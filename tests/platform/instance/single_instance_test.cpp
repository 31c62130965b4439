#include "platform/instance/single_instance.h"

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
    for (const auto request :
         {InstanceRequest::OpenPanel, InstanceRequest::Pause, InstanceRequest::Resume}) {
        EXPECT_EQ(parseInstanceRequest(requestMessage(request)), request);
    }
    for (const char* message : {"open", "open\n", "open\r\n", "show", "show\n"}) {
        EXPECT_EQ(parseInstanceRequest(message), InstanceRequest::OpenPanel) << message;
    }
    for (const QByteArray& message :
         {QByteArray(""), QByteArray("\n"), QByteArray("op"), QByteArray("opened\n"),
          QByteArray("OPEN\n"), QByteArray(" open\n"), QByteArray("open\r"), QByteArray("open\n\n"),
          QByteArray("open\nshow\n"), QByteArray("quit\n"), QByteArray("pause resume\n"),
          QByteArray("open\0\n", 6), QByteArray("open\n").repeated(1000)}) {
        EXPECT_EQ(parseInstanceRequest(message), InstanceRequest::None) << message.left(20).data();
    }
}

TEST(InstanceName, OneNamePerUserAndDisplayInADirectoryNobodyElseMayUse) {
    // The screen and the local-socket host do not make another X session.
    EXPECT_EQ(sessionKey("xcb", ":0.1"), "x11-0");
    EXPECT_EQ(sessionKey("xcb", "unix:0.0"), "x11-0");
    EXPECT_NE(sessionKey("xcb", ":1"), sessionKey("xcb", ":10"));
    EXPECT_EQ(sessionKey("xcb", "remote.example:10.0"), "x11-remote.example-10");
    EXPECT_EQ(sessionKey("wayland", ""), "wl-wayland-0");
    EXPECT_EQ(sessionKey("", ""), "none");
    // Whatever the environment says, the key stays one plain file name, and
    // long names are shortened without running together.
    for (const QString& display : {QString("../../etc/passwd"), QString("/run/user/1000/wl-0"),
                                   QString(".hidden"), QString("a b\tc\nd"), QString(300, 'x')}) {
        const QString key = sessionKey("wayland", display);
        EXPECT_TRUE(QRegularExpression("^[A-Za-z0-9_-][A-Za-z0-9._-]{0,39}$").match(key).hasMatch())
            << key.toStdString();
    }
    EXPECT_NE(sessionKey("wayland", QString(100, 'a') + "1"),
              sessionKey("wayland", QString(100, 'a') + "2"));

    const unsigned uid = ::getuid();
    const QTemporaryDir runtime;  // made 0700
    const QTemporaryDir temp;
    EXPECT_EQ(instanceServerName(uid, "x11-0", runtime.path(), temp.path()),
              runtime.filePath(QString("brimlet-%1-x11-0").arg(uid)));
    // Without a usable runtime directory (none, relative, missing, open to
    // others, too deep for a socket address): a directory of our own, 0700.
    const QString own = temp.filePath(QString("brimlet-%1").arg(uid));
    const QString open = runtime.filePath("open");
    const QString deep = runtime.filePath(QString(90, 'd'));
    ASSERT_TRUE(QDir().mkdir(open) && QDir().mkpath(deep));
    ::chmod(QFile::encodeName(open).constData(), 0755);
    for (const QString& runtimeDir :
         {QString(), QString("relative/dir"), runtime.filePath("missing"), open, deep}) {
        EXPECT_EQ(instanceServerName(uid, "x11-0", runtimeDir, temp.path()),
                  QDir(own).filePath(QString("brimlet-%1-x11-0").arg(uid)));
    }
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(own).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700U);

    // Our directory there is refused unless it is a real directory with mode
    // 0700: never a link, even to a good directory.
    const QTemporaryDir shared;
    const QString ours = shared.filePath(QString("brimlet-%1").arg(uid));
    ASSERT_TRUE(QFile::link(runtime.path(), ours));
    EXPECT_EQ(instanceServerName(uid, "x11-0", "", shared.path()), QString());
    QFile::remove(ours);
    ASSERT_TRUE(QDir().mkdir(ours));
    ::chmod(QFile::encodeName(ours).constData(), 0755);
    EXPECT_EQ(instanceServerName(uid, "x11-0", "", shared.path()), QString());
}

// Claims as a later start does, from a thread of its own, while this thread's
// event loop serves the running instance.
SingleInstance::Role claimFromAnotherStart(const QString& name) {
    auto later = std::async(std::launch::async, [name] { return SingleInstance(name).claim(); });
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
    // A socket left behind by a killed process.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    std::strncpy(address.sun_path, QFile::encodeName(name()).constData(),
                 sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);

    SingleInstance revived(name());
    int requests = 0;
    revived.onRequest([&](InstanceRequest) { ++requests; });
    ASSERT_EQ(revived.claim(), SingleInstance::Role::Primary);
    for (int later = 1; later <= 2; ++later) {
        EXPECT_EQ(claimFromAnotherStart(name()), SingleInstance::Role::HandedOff);
        EXPECT_EQ(requests, later) << "handed off before the request was taken";
    }

    // A client that connects and says nothing stays connected for a while
    // without keeping a real request waiting, and is dropped in the end; a
    // word without a line end counts once the client closes.
    QLocalSocket silent;
    silent.connectToServer(name());
    ASSERT_TRUE(silent.waitForConnected(1000));
    send(QByteArray(100000, 'o'));
    send(QByteArray("open\0", 5));
    send("show");
    EXPECT_TRUE(QTest::qWaitFor([&] { return requests == 3; }, 2000));
    EXPECT_EQ(silent.state(), QLocalSocket::ConnectedState);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 5000));
    EXPECT_EQ(requests, 3);

    // Many silent clients crowd out nobody: the oldest give way.
    std::list<QLocalSocket> crowd;
    for (int i = 0; i < 40; ++i) {
        crowd.emplace_back().connectToServer(name());
        ASSERT_TRUE(crowd.back().waitForConnected(1000));
    }
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

// Another local user, made for the test, who leaves things where a start
// with XDG_RUNTIME_DIR unset looks for its socket. Needs root.
class Squatter : public ::testing::Test {
  protected:
    static constexpr const char* kUser = "brimlet-squatter";

    static void SetUpTestSuite() {
        if (::getuid() == 0 && ::getpwnam(kUser) == nullptr) {
            created_ = QProcess::execute("useradd", {"--system", "--no-create-home", "--shell",
                                                     "/usr/sbin/nologin", kUser}) == 0;
        }
    }
    static void TearDownTestSuite() {
        if (created_) {
            QProcess::execute("userdel", {kUser});
        }
    }
    void SetUp() override {
        if (::getuid() != 0) {
            GTEST_SKIP() << "needs a second local user, which only root can make (CI runs as root)";
        }
        ASSERT_NE(::getpwnam(kUser), nullptr) << "useradd " << kUser << " failed";
        // Like /tmp: everyone may write, nobody may remove others' files.
        ASSERT_EQ(::chmod(QFile::encodeName(tmp_.path()).constData(), 01777), 0);
    }

    // Runs `work` in a child process as the other user; true if it succeeded.
    static bool asSquatter(const std::function<bool()>& work) {
        const passwd* user = ::getpwnam(kUser);
        const pid_t child = ::fork();
        if (child == 0) {
            ::_exit(::setgid(user->pw_gid) == 0 && ::setuid(user->pw_uid) == 0 && work() ? 0 : 1);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    // `file` with our uid, which the squatter's own process cannot ask for.
    [[nodiscard]] QByteArray at(const QString& file) const {
        return QFile::encodeName(tmp_.filePath(file.arg(uid_)));
    }
    [[nodiscard]] QString startName() const {
        return instanceServerName(uid_, "x11-7", "", tmp_.path());
    }

    QTemporaryDir tmp_;
    const uid_t uid_ = ::getuid();
    static inline bool created_ = false;
};

TEST_F(Squatter, ADirectoryTakenByAnotherUserIsRefusedAndSaidSo) {
    ASSERT_TRUE(asSquatter([&] { return ::mkdir(at("brimlet-%1").constData(), 0777) == 0; }));
    ::chmod(at("brimlet-%1").constData(), 0700);  // even with the right mode
    SingleInstance start(startName());
    EXPECT_EQ(start.claim(), SingleInstance::Role::Alone);
    EXPECT_TRUE(start.problem().startsWith("brimlet: ")) << start.problem().toStdString();
    EXPECT_TRUE(
        QDir(QFile::decodeName(at("brimlet-%1")))
            .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

TEST_F(Squatter, TheSocketItselfIsOursAloneEvenUnderUmask000) {
    // Not only its folder: here it is in one open to all.
    const QByteArray path = at("socket-%1");
    const mode_t mask = ::umask(0);
    SingleInstance running(QFile::decodeName(path));
    const SingleInstance::Role role = running.claim();
    ::umask(mask);
    ASSERT_EQ(role, SingleInstance::Role::Primary);
    struct stat info {};
    ASSERT_EQ(::lstat(path.constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 077, 0U);
    EXPECT_FALSE(asSquatter([&] {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        return ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    })) << "another user reached the socket";
}

}  // namespace
}  // namespace brimlet::platform
