// The application: its one scene, the tray item whose panel shows the
// history, and its delegate.
#pragma once

#include <QIcon>
#include <memory>

#include "platform/ui/menu_bar_extra.h"
#include "shell/app_delegate.h"

namespace brimlet {

class BrimletApp {
  public:
    // The application routine: hands over to a Brimlet already running on
    // this display, or builds the app and its scene, installs the delegate,
    // runs the event loop, and returns the exit status.
    static int main(int argc, char** argv);
    // Prints the usage on standard output when the first argument is --help
    // or -h, and says whether it did; needs no display.
    static bool answeredHelp(int argc, char** argv);

    BrimletApp() = default;

    // The scene. Every opening of the panel shows a new ShelfView on the
    // shared store, with an empty search text.
    [[nodiscard]] std::unique_ptr<platform::ui::MenuBarExtra> body() const;
    [[nodiscard]] AppDelegate& delegate() { return delegate_; }

    // Pauses or resumes the shared store's history and shows it on the icon
    // and in its menu.
    static void setPaused(platform::ui::MenuBarExtra& scene, bool paused);

  private:
    AppDelegate delegate_;
};

// The paperclip of the tray item; painted when the SVG cannot be loaded.
[[nodiscard]] QIcon paperclipIcon();
// The same, faded and struck through, while the history is paused.
[[nodiscard]] QIcon pausedPaperclipIcon();
// The one line said on standard error when no tray host takes the icon at
// start; `docksLater` when the icon will dock once a tray host starts.
[[nodiscard]] const char* noTrayHostMessage(bool docksLater);

}  // namespace brimlet
