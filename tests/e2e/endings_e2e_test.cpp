// Ending Brimlet from outside: the signals that end it as "Quit" does, and
// the display going away. Either way the instance socket goes with it.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "e2e/desktop.h"

namespace brimlet::e2e {
namespace {

class Endings : public EndToEndTest {
  protected:
    void SetUp() override {
        EndToEndTest::SetUp();
        previous_ = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", previous_); }

    // The socket of a Brimlet on `display` (":N").
    [[nodiscard]] QString socketFor(const QString& display) const {
        return runtime_.filePath(QString("brimlet-%1-x11-%2").arg(::getuid()).arg(display.mid(1)));
    }
    [[nodiscard]] QStringList leftovers() const {
        // Others (the accessibility bus, dconf) keep their own things there.
        return QDir(runtime_.path())
            .entryList({"brimlet*"}, QDir::AllEntries | QDir::Hidden | QDir::System);
    }

    QTemporaryDir runtime_;
    QByteArray previous_;
};

TEST_F(Endings, TermIntAndHupEndItAsQuitDoes) {
    const QString socket = socketFor(qEnvironmentVariable("DISPLAY"));
    SessionBus bus;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        BrimletProcess app(bus);
        ASSERT_TRUE(app.start());
        ASSERT_TRUE(waitFor([&] { return QFile::exists(socket); }, 10s)) << signal;
        ::kill(static_cast<pid_t>(app.process().processId()), signal);
        EXPECT_TRUE(app.waitForExit()) << signal << ": status " << app.process().exitCode() << ", "
                                       << app.standardError().toStdString();
        EXPECT_TRUE(leftovers().isEmpty()) << signal << ": " << leftovers().join(' ').toStdString();
    }
}

TEST_F(Endings, LosingTheDisplayRemovesTheSocketAndSaysSoOnce) {
    auto display = std::make_unique<PrivateDisplay>();
    ASSERT_FALSE(display->name().isEmpty()) << "the private X server did not start";
    const QString socket = socketFor(display->name());
    SessionBus bus;
    BrimletProcess app(bus);
    {
        const UseDisplay use(display->name());
        ASSERT_TRUE(app.start());
    }
    ASSERT_TRUE(waitFor([&] { return QFile::exists(socket); }, 10s));
    pauseFor(500ms);
    const QByteArray before = app.standardError();
    display.reset();

    ASSERT_TRUE(waitFor([&] { return app.process().state() == QProcess::NotRunning; }, 10s));
    EXPECT_EQ(app.process().exitStatus(), QProcess::NormalExit);
    EXPECT_NE(app.process().exitCode(), 0);
    EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(' ').toStdString();
    const QByteArray said = app.standardError().mid(before.size());
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.startsWith("brimlet: ")) << said.toStdString();
}

}  // namespace
}  // namespace brimlet::e2e
