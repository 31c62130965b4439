// The clipboard under faults: an owner that never answers, a huge text, a
// password, copies faster than the polls.
#include <QProcess>

#include "e2e/desktop.h"

namespace brimlet::e2e {
namespace {

using ClipboardFaults = EndToEndTest;

// brimlet_clip_owner takes the clipboard in one of its modes and says
// "ready" once it owns it.
class ClipOwner {
  public:
    ClipOwner(const QString& mode, const QString& text) {
        process_.start(QStringLiteral(BRIMLET_CLIP_OWNER), {mode, text});
        waitFor([&] { return process_.canReadLine(); }, 5s);
    }
    ~ClipOwner() {
        process_.kill();
        process_.waitForFinished(2000);
    }
    ClipOwner(const ClipOwner&) = delete;
    ClipOwner& operator=(const ClipOwner&) = delete;

  private:
    QProcess process_;
};

std::optional<A11yNode> openPanel(BrimletProcess& app, int rows) {
    app.clickTrayIcon();
    return app.waitForPanel(
        [rows](const A11yNode& p) { return rowTexts(p).size() == static_cast<qsizetype>(rows); });
}

void closePanel(BrimletProcess& app) {
    pressKey("Escape");
    app.waitForPanelClosed();
    pauseFor(400ms);  // a click right after closing is not a reopen
}

TEST_F(ClipboardFaults, HungOwnerFreezesNothingAndIsOvertakenByTheNextCopy) {
    copyWithXclip("before the hang");
    SessionBus bus;
    BrimletProcess app(bus);
    ASSERT_TRUE(app.startPolling()) << "the tray icon never docked";

    {
        const ClipOwner hung("hung", "never served");
        pauseFor(1200ms);

        // The panel opens and follows typing while the owner does not answer.
        auto panel = openPanel(app, 1);
        ASSERT_TRUE(panel) << app.describe();
        EXPECT_EQ(rowTexts(*panel), QStringList{"before the hang"});
        typeText("zzz");
        EXPECT_TRUE(app.waitForPanel([](const A11yNode& p) {
            return labels(p).contains("No matches");
        })) << app.describe();
        closePanel(app);

        copyWithXclip("after the hang");
        pauseFor(1200ms);
    }
    auto panel = openPanel(app, 2);
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"after the hang", "before the hang"}));
    EXPECT_TRUE(labels(*panel).contains("2/50"));
}

TEST_F(ClipboardFaults, PasswordHintKeepsTheTextOutOfTheHistory) {
    SessionBus bus;
    BrimletProcess app(bus);
    {
        const ClipOwner secret("secret", "hunter2 is my password");
        ASSERT_TRUE(app.start());
        ASSERT_TRUE(app.waitForTrayIcon());
        pauseFor(1200ms);
        auto panel = app.panel();
        app.clickTrayIcon();
        panel = app.waitForPanel(
            [](const A11yNode& p) { return labels(p).contains("Nothing copied yet"); });
        ASSERT_TRUE(panel) << app.describe();
        EXPECT_TRUE(labels(*panel).contains("0/50"));
        closePanel(app);
    }
    // The same text without the hint is an ordinary copy.
    copyWithXclip("hunter2 is my password");
    pauseFor(1200ms);
    const auto panel = openPanel(app, 1);
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), QStringList{"hunter2 is my password"});
}

TEST_F(ClipboardFaults, HugeTextIsKeptWholeAndPastedBackWhole) {
    QByteArray huge;
    huge.reserve(20 << 20);
    for (int line = 0; huge.size() < (20 << 20); ++line) {
        huge += "line " + QByteArray::number(line) + " of a very large copy\n";
    }
    copyWithXclip("before the huge copy");
    SessionBus bus;
    BrimletProcess app(bus);
    ASSERT_TRUE(app.startPolling()) << "the tray icon never docked";
    // A copy made while the huge one is still being read would supersede it:
    // wait until it is listed, however slow the build.
    copyWithXclip(huge);
    app.clickTrayIcon();
    ASSERT_TRUE(app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 2; }, 60s))
        << app.describe();
    closePanel(app);
    copyAndSettle("something small");

    auto panel = openPanel(app, 3);
    ASSERT_TRUE(panel) << app.describe();
    const auto entries = rows(*panel);
    ASSERT_EQ(entries.size(), 3U);
    EXPECT_TRUE(entries[1]->name.startsWith("line 0 of a very large copy\nline 1"));
    click(entries[1]->extents.center());
    QByteArray pasted;
    waitFor(
        [&] {
            pasted = run("xclip", {"-selection", "clipboard", "-o"}, {}, 30s);
            return pasted.size() == huge.size();
        },
        20s);
    EXPECT_TRUE(pasted == huge) << "pasted " << pasted.size() << " of " << huge.size() << " bytes";
}

TEST_F(ClipboardFaults, CopiesFasterThanThePollsAllLandInOrder) {
    SessionBus bus;
    BrimletProcess app(bus);
    copyWithXclip("already there");
    ASSERT_TRUE(app.startPolling()) << "the tray icon never docked";

    // Five a second, as quick as people copy.
    QStringList expected{"already there"};
    for (int i = 0; i < 10; ++i) {
        const QString text = QString("quick copy %1").arg(i);
        copyWithXclip(text.toUtf8());
        expected.prepend(text);
        pauseFor(200ms);
    }
    // One poll each, half a second apart.
    pauseFor(6500ms);
    const auto panel = openPanel(app, 11);
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), expected);
    EXPECT_TRUE(labels(*panel).contains("11/50"));
}

}  // namespace
}  // namespace brimlet::e2e
