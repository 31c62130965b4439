// Brimlet from the keyboard once the panel is open: type to search, pick an
// entry with the arrow keys, copy it back with Return, close with Esc.
#include <gtest/gtest.h>

#include "e2e/desktop.h"

namespace brimlet::e2e {
namespace {

class Keyboard : public EndToEndTest {};

TEST_F(Keyboard, SearchPickWithArrowsCopyBackWithReturnAndCloseWithEsc) {
    // Whatever an earlier test left on the clipboard would be captured at
    // start; a blank text is not.
    copyWithXclip(" ");
    SessionBus bus;
    BrimletProcess app(bus);
    ASSERT_TRUE(app.startPolling()) << "the tray icon never docked";

    copyAndSettle("red plum");
    copyAndSettle("cherry pie");
    copyAndSettle("plum jam");
    copyAndSettle("plum tart");

    app.clickTrayIcon();
    auto panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 4; });
    ASSERT_TRUE(panel) << "the panel did not open with four entries:\n" << app.describe();
    const A11yNode* field = panel->find("text", "Search");
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(field->focused) << app.describe();

    // No click into the field: the keys go there from the start.
    typeText("plum");
    panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 3; });
    ASSERT_TRUE(panel) << app.describe();
    ASSERT_EQ(rowTexts(*panel), (QStringList{"plum tart", "plum jam", "red plum"}));

    pressKey("Down");
    pressKey("Down");
    pressKey("Return");
    EXPECT_TRUE(waitFor([] { return pasteWithXclip() == "plum jam"; }))
        << "the clipboard holds: " << pasteWithXclip().toStdString();
    panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).value(0) == "plum jam"; });
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(rowTexts(*panel), (QStringList{"plum jam", "plum tart", "red plum"}));
    EXPECT_EQ(panel->find("text", "Search")->text, "plum");

    // The highlight went up with its entry; one more step and the keypad's
    // Enter take the next one.
    pressKey("Down");
    pressKey("KP_Enter");
    EXPECT_TRUE(waitFor([] { return pasteWithXclip() == "plum tart"; }))
        << "the clipboard holds: " << pasteWithXclip().toStdString();

    // Typing goes on into the search, whatever is highlighted.
    typeText(" t");
    panel = app.waitForPanel([](const A11yNode& p) { return rowTexts(p).size() == 1; });
    ASSERT_TRUE(panel) << app.describe();
    EXPECT_EQ(panel->find("text", "Search")->text, "plum t");

    pressKey("Escape");
    EXPECT_TRUE(app.waitForPanelClosed()) << app.describe();
    EXPECT_EQ(app.process().state(), QProcess::Running);
    EXPECT_EQ(pasteWithXclip(), "plum tart");
}

}  // namespace
}  // namespace brimlet::e2e
