// Brimlet as a person uses it: copy in other programs, open the panel from
// the tray icon, search, click an entry, paste it elsewhere, clear, quit.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include "e2e/desktop.h"

namespace brimlet::e2e {
namespace {

QStringList texts(const std::optional<A11yNode>& panel) {
    return panel ? rowTexts(*panel) : QStringList{};
}

void saveScreenshot(const QRect& area, const QString& name) {
    QDir().mkpath(QStringLiteral(BRIMLET_E2E_OUTPUT_DIR));
    const QString geometry =
        QString("%1x%2+%3+%4").arg(area.width()).arg(area.height()).arg(area.x()).arg(area.y());
    run("import", {"-window", "root", "-crop", geometry,
                   QStringLiteral(BRIMLET_E2E_OUTPUT_DIR) + "/" + name});
}

using TrayApp = EndToEndTest;

TEST_F(TrayApp, CopySearchPasteClearAndQuit) {
    copyWithXclip("on the clipboard at start");  // whatever an earlier test left goes
    SessionBus bus;
    BrimletProcess app(bus);
    ASSERT_TRUE(app.startPolling()) << "the tray icon never docked";

    copyAndSettle("apple pie");
    copyAndSettle("banana split");
    copyAndSettle("Apple juice");

    app.clickTrayIcon();
    auto panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 4; });
    ASSERT_TRUE(panel) << "the panel did not open with four entries:\n" << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"Apple juice", "banana split", "apple pie",
                                             "on the clipboard at start"}));
    EXPECT_TRUE(labels(*panel).contains("4/50"));
    const A11yNode* field = panel->find("text", "Search");
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->extents.size(), QSize(316, field->extents.height()));
    const QRect window = panelWindow(*panel);
    EXPECT_EQ(window.size(), QSize(340, 420));
    saveScreenshot(window, "panel.png");

    // Filtering follows every keystroke, case-insensitively, newest first.
    click(field->extents.center());
    typeText("apple");
    panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 2; });
    ASSERT_TRUE(panel);
    EXPECT_EQ(rowTexts(*panel), (QStringList{"Apple juice", "apple pie"}));

    // Clicking the second match puts its text back and moves it to the top.
    const auto matches = rows(*panel);
    ASSERT_EQ(matches.size(), 2U);
    click(matches[1]->extents.center());
    EXPECT_TRUE(waitFor([] { return pasteWithXclip() == "apple pie"; }));
    panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).value(0) == "apple pie"; });
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"apple pie", "Apple juice"}));
    EXPECT_EQ(panel->find("text", "Search")->text, "apple");
    // No second copy of our own write shows up after a few polls.
    pauseFor(1200ms);
    panel = app.panel();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(labels(*panel).contains("4/50"));

    // "Clear all" empties the history and leaves the clipboard alone.
    const A11yNode* clear = panel->find("push button", "Clear all");
    ASSERT_NE(clear, nullptr);
    EXPECT_TRUE(clear->enabled);
    click(clear->extents.center());
    panel = app.waitForPanel(
        [](const A11yNode& p) { return labels(p).contains("Nothing copied yet"); });
    ASSERT_TRUE(panel);
    EXPECT_TRUE(labels(*panel).contains("0/50"));
    EXPECT_FALSE(panel->find("push button", "Clear all")->enabled);
    EXPECT_EQ(pasteWithXclip(), "apple pie");
    pauseFor(1200ms);
    EXPECT_TRUE(texts(app.panel()).isEmpty());

    pressKey("ctrl+q");
    EXPECT_TRUE(app.waitForExit()) << app.standardError().toStdString();
}

}  // namespace
}  // namespace brimlet::e2e
