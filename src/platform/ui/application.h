// The toolkit's application routine: one QApplication on the GUI thread,
// with the translations for the user's locale and no main window.
#pragma once

#include <QLocale>
#include <QString>
#include <functional>
#include <memory>

class QApplication;
class QTranslator;

namespace brimlet::platform::ui {

class QuitSignals;

class Application {
  public:
    // False when no windowing system is configured for this process. Checked
    // before the application object exists, which would abort without one.
    [[nodiscard]] static bool displayConfigured();

    // From here on SIGTERM, SIGINT and SIGHUP quit() as "Quit" does, and a
    // lost display ends the process (status 1) with one line on standard
    // error.
    Application(int& argc, char** argv);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;
    ~Application();

    // Runs `handler` once, after the event loop has started.
    void onLaunched(std::function<void()> handler);
    // Runs the event loop until quit(); returns the exit status.
    int run();

    // No taskbar entry and no main window; closing the last window (the
    // panel) never ends the process.
    static void becomeAccessory();
    // Ends the event loop in the orderly way, with status 0.
    static void quit();

  private:
    std::unique_ptr<QApplication> app_;
    std::unique_ptr<QTranslator> translator_;
    std::unique_ptr<QuitSignals> quitSignals_;
};

// Loads the catalogue for `locale` into `translator`, from the installed
// translations when they have it, else from those built in; false when the
// locale has none, in which case texts show as written.
bool loadTranslations(QTranslator& translator, const QLocale& locale);
// The same, looking in `installedDir` before the built-in ones.
bool loadTranslations(QTranslator& translator, const QLocale& locale, const QString& installedDir);
// Where an installed Brimlet keeps its translations (share/brimlet/
// translations beside its bin/); empty when the build does not say.
[[nodiscard]] QString installedTranslationsDir();

}  // namespace brimlet::platform::ui
