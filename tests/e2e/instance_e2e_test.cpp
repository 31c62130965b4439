// Starting Brimlet while it runs: the running one opens its panel and the
// new process ends at once, so only one ever watches the clipboard.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "e2e/desktop.h"

namespace brimlet::e2e {
namespace {

class Instance : public EndToEndTest {
  protected:
    // A blank clipboard is never captured: the next test starts from nothing.
    void TearDown() override { copyWithXclip(""); }

    // Starts Brimlet again; true when it ended with status 0 within a second.
    static bool startAgainAndWaitForItToEnd(BrimletProcess& later) {
        if (!later.start()) {
            return false;
        }
        return later.waitForExit(1s);
    }
};

TEST_F(Instance, ASecondStartOpensThePanelOfTheFirstAndEnds) {
    SessionBus bus;
    BrimletProcess first(bus);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(first.waitForTrayIcon()) << "the tray icon never docked";
    copyAndSettle("copied while the first runs");

    BrimletProcess second(bus);
    EXPECT_TRUE(startAgainAndWaitForItToEnd(second))
        << "the second start did not end with status 0 within a second: "
        << second.standardError().toStdString();
    // (Below whatever was on the clipboard when it started, if that came first.)
    auto panel = first.waitForPanel(
        [](const A11yNode& p) { return rowTexts(p).value(0) == "copied while the first runs"; });
    ASSERT_TRUE(panel) << "the first one's panel did not open:\n" << first.describe();
    const QStringList before = rowTexts(*panel);
    EXPECT_EQ(first.process().state(), QProcess::Running);
    // The second never got as far as a tray icon of its own.
    EXPECT_FALSE(second.standardError().contains("brimlet:"))
        << second.standardError().toStdString();

    // Only the first watches the clipboard: a new copy comes in once.
    copyAndSettle("copied after the second start");
    panel = first.waitForPanel(
        [&](const A11yNode& p) { return rowTexts(p).size() == before.size() + 1; });
    ASSERT_TRUE(panel) << first.describe();
    EXPECT_EQ(rowTexts(*panel), QStringList{"copied after the second start"} + before);

    // Asking while the panel is open leaves it open.
    BrimletProcess third(bus);
    EXPECT_TRUE(startAgainAndWaitForItToEnd(third));
    pauseFor(500ms);
    EXPECT_TRUE(first.panel()) << "a start while the panel was open closed it";

    // A killed instance leaves its socket behind; a new start is not fooled.
    first.process().kill();
    ASSERT_TRUE(first.process().waitForFinished(5000));
    BrimletProcess revived(bus);
    ASSERT_TRUE(revived.start());
    ASSERT_TRUE(revived.waitForTrayIcon())
        << "after a crash, a new start did not dock: " << revived.standardError().toStdString();
    EXPECT_EQ(revived.process().state(), QProcess::Running);
    revived.clickTrayIcon();
    // What is on the clipboard at start is captured; the old history is gone.
    panel = revived.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 1; });
    ASSERT_TRUE(panel) << revived.describe();
    EXPECT_EQ(rowTexts(*panel), QStringList{"copied after the second start"});

    // And it answers later starts in turn.
    pressKey("Escape");
    ASSERT_TRUE(revived.waitForPanelClosed());
    BrimletProcess fourth(bus);
    EXPECT_TRUE(startAgainAndWaitForItToEnd(fourth));
    EXPECT_TRUE(revived.waitForPanel([](const A11yNode&) { return true; }));
    pressKey("ctrl+q");
    EXPECT_TRUE(revived.waitForExit()) << revived.standardError().toStdString();
}

TEST_F(Instance, OfSeveralStartedAtOnceOneRuns) {
    SessionBus bus;
    std::vector<std::unique_ptr<BrimletProcess>> starts;
    for (int i = 0; i < 4; ++i) {
        starts.push_back(std::make_unique<BrimletProcess>(bus));
    }
    for (auto& start : starts) {
        ASSERT_TRUE(start->start());
    }
    const auto running = [&] {
        int count = 0;
        for (auto& start : starts) {
            count += start->process().state() != QProcess::NotRunning ? 1 : 0;
        }
        return count;
    };
    ASSERT_TRUE(waitFor([&] { return running() == 1; }, 10s)) << running() << " still run";
    pauseFor(1s);
    EXPECT_EQ(running(), 1);

    BrimletProcess* survivor = nullptr;
    for (auto& start : starts) {
        if (start->process().state() == QProcess::NotRunning) {
            EXPECT_EQ(start->process().exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(start->process().exitCode(), 0) << start->standardError().toStdString();
        } else {
            survivor = start.get();
        }
    }
    ASSERT_NE(survivor, nullptr);
    ASSERT_TRUE(survivor->waitForTrayIcon());
    // The others asked it to open its panel.
    EXPECT_TRUE(survivor->waitForPanel([](const A11yNode&) { return true; }))
        << survivor->describe();
    pressKey("ctrl+q");
    EXPECT_TRUE(survivor->waitForExit()) << survivor->standardError().toStdString();
}

}  // namespace
}  // namespace brimlet::e2e
