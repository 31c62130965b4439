#include "platform/ui/application.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QTimer>
#include <QTranslator>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/ui/accessibility.h"
#include "platform/ui/quit_signals.h"

namespace brimlet::platform::ui {
namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

std::unique_ptr<QApplication> makeApplication(int& argc, char** argv) {
    // Wayland shows the clipboard only to the focused window and places no
    // window where the program asks; through XWayland Brimlet sees every
    // copy the compositor passes on and puts its panel by the tray. Native
    // Wayland stays as the fallback, and an explicit choice always wins.
    if (!isSet("QT_QPA_PLATFORM") && isSet("WAYLAND_DISPLAY") && isSet("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "xcb;wayland", 1);
    }
    // Before the application exists, so its accessible root is ours.
    exposePopupsToAssistiveTechnology();
    return std::make_unique<QApplication>(argc, argv);
}

QtMessageHandler gDefaultMessages = nullptr;

// Whether `message` says that the X server has gone: Qt's own warning, or
// any other of its xcb platform's once the connection is broken.
bool displayLost(const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("The X11 connection broke"))) {
        return true;
    }
    if (qstrcmp(context.category, "qt.qpa.xcb") != 0 || qGuiApp == nullptr) {
        return false;
    }
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr && xcb_connection_has_error(x11->connection()) != 0;
}

// Qt's xcb platform ends the process with exit(1) when the X server goes
// away, right after its warning; before that, painting may warn too, and
// when Xlib notices first, Xlib's own handler adds lines before it exits.
// Say it once, our way, and end as Qt would: what exit() runs (the instance
// socket's removal) still runs.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && displayLost(context, message)) {
        // Two threads may notice at once; the first one ends the process.
        static std::atomic_flag ending = ATOMIC_FLAG_INIT;
        while (ending.test_and_set()) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
        }
        std::fputs("brimlet: the connection to the display was lost; Brimlet ends.\n", stderr);
        std::exit(1);
    }
    gDefaultMessages(type, context, message);
}

}  // namespace

bool Application::displayConfigured() {
    // An explicit platform plugin (offscreen, vnc, ...) needs no display.
    return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY") || isSet("QT_QPA_PLATFORM");
}

Application::Application(int& argc, char** argv)
    : app_(makeApplication(argc, argv)),
      translator_(std::make_unique<QTranslator>()),
      quitSignals_(std::make_unique<QuitSignals>(&Application::quit)) {
    if (gDefaultMessages == nullptr) {
        gDefaultMessages = qInstallMessageHandler(onQtMessage);
    }
    QCoreApplication::setApplicationName(QStringLiteral("brimlet"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Brimlet"));
    QGuiApplication::setQuitOnLastWindowClosed(false);
    if (loadTranslations(*translator_, QLocale())) {
        QCoreApplication::installTranslator(translator_.get());
    }
}

Application::~Application() = default;

void Application::onLaunched(std::function<void()> handler) {
    // A zero timer fires only once the loop runs, after everything queued.
    QTimer::singleShot(0, app_.get(), std::move(handler));
}

int Application::run() {
    return QApplication::exec();
}

void Application::becomeAccessory() {
    QGuiApplication::setQuitOnLastWindowClosed(false);
}

void Application::quit() {
    QCoreApplication::exit(0);
}

QString installedTranslationsDir() {
#ifdef BRIMLET_TRANSLATIONS_FROM_BINDIR
    // Relative to the program, so that an installed tree may be moved.
    return QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                           QStringLiteral(BRIMLET_TRANSLATIONS_FROM_BINDIR));
#else
    return {};
#endif
}

bool loadTranslations(QTranslator& translator, const QLocale& locale) {
    return loadTranslations(
        translator, locale,
        QCoreApplication::instance() != nullptr ? installedTranslationsDir() : QString());
}

bool loadTranslations(QTranslator& translator, const QLocale& locale, const QString& installedDir) {
    // The installed catalogues first, so that they can be updated on their
    // own; the ones built into the program otherwise.
    if (!installedDir.isEmpty() &&
        translator.load(locale, QStringLiteral("brimlet"), QStringLiteral("_"), installedDir)) {
        return true;
    }
    return translator.load(locale, QStringLiteral("brimlet"), QStringLiteral("_"),
                           QStringLiteral(":/i18n"));
}

}  // namespace brimlet::platform::ui
