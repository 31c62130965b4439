#include "shell/brimlet_app.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "panel/shelf_view.h"
#include "platform/instance/single_instance.h"
#include "platform/ui/application.h"
#include "shell/adapters.h"

namespace brimlet {

namespace {

constexpr std::array<std::string_view, 3> kOptions{"--pause", "--resume", "--version"};

constexpr const char* kUsage =
    "Usage: brimlet [--pause | --resume | --version | --help]\n"
    "Keeps a history of the plain texts you copy, in the system tray.\n"
    "\n"
    "  (none)      start Brimlet, or open the panel of the one already running\n"
    "  --pause     pause the history of the running Brimlet (or start paused)\n"
    "  --resume    resume the history of the running Brimlet\n"
    "  --version   tell the version, and which clipboard and tray Brimlet finds\n"
    "  -h, --help  show this help\n"
    "\n"
    "The manual page brimlet(1) tells more.\n";

// The first argument Brimlet does not take, if any; Qt has taken its own
// (-platform, -session from a session manager, ...) out of argv by now.
const char* unexpectedArgument(int argc, char** argv) {
    if (argc < 2) {
        return nullptr;
    }
    if (std::find(kOptions.begin(), kOptions.end(), std::string_view(argv[1])) == kOptions.end()) {
        return argv[1];
    }
    return argc > 2 ? argv[2] : nullptr;
}

// An argument shown within a one-line message: no control characters.
std::string printable(std::string_view argument) {
    std::string shown(argument);
    std::replace_if(
        shown.begin(), shown.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == '\x7f'; }, '?');
    return shown;
}

}  // namespace

bool BrimletApp::answeredHelp(int argc, char** argv) {
    const std::string_view option = argc > 1 ? std::string_view(argv[1]) : std::string_view();
    if (option != "--help" && option != "-h") {
        return false;
    }
    std::fputs(kUsage, stdout);
    return true;
}

int BrimletApp::main(int argc, char** argv) {
    platform::ui::Application application(argc, argv);
    if (const char* unexpected = unexpectedArgument(argc, argv)) {
        std::fprintf(stderr,
                     "brimlet: unexpected argument '%s'; it takes at most one of --pause, "
                     "--resume, --version and --help.\n",
                     printable(unexpected).c_str());
        return 2;
    }
    const std::string_view option = argc > 1 ? std::string_view(argv[1]) : std::string_view();
    if (option == "--version") {
        // What this session offers Brimlet, without starting or disturbing it.
        std::printf("Brimlet %s\nclipboard: %s\ntray: %s\npaste: %s\n", BRIMLET_VERSION,
                    adapters::describeGeneralPasteboard().c_str(),
                    platform::ui::MenuBarExtra::describeTray().toUtf8().constData(),
                    adapters::describePaster().c_str());
        return 0;
    }
    // Before the store and the icon exist: a second Brimlet on the same
    // display would poll the same clipboard beside the first.
    // --pause and --resume go to the running one, or set how this one starts.
    using platform::InstanceRequest;
    const InstanceRequest request = option == "--pause"    ? InstanceRequest::Pause
                                    : option == "--resume" ? InstanceRequest::Resume
                                                           : InstanceRequest::OpenPanel;
    platform::SingleInstance instance(adapters::instanceServerName(), request);
    switch (instance.claim()) {
        case platform::SingleInstance::Role::HandedOff:
            return 0;
        case platform::SingleInstance::Role::Unreachable:
            std::fputs(
                "brimlet: another Brimlet runs on this display but does not answer; "
                "end it before starting a new one.\n",
                stderr);
            return 1;
        case platform::SingleInstance::Role::Alone:
            std::fprintf(stderr, "%s\n", qPrintable(instance.problem()));
            break;
        case platform::SingleInstance::Role::Primary:
            break;
    }
    BrimletApp app;
    const auto scene = app.body();
    // Made now, so that it knows the windows before the panel first opens.
    adapters::paster();
    if (request == InstanceRequest::Pause) {
        setPaused(*scene, true);
    }
    if (!scene->trayHostAvailable()) {
        std::fputs(noTrayHostMessage(platform::ui::MenuBarExtra::docksWhenTrayHostStarts()),
                   stderr);
    }
    instance.onRequest([&scene](InstanceRequest asked) {
        switch (asked) {
            case InstanceRequest::Pause:
            case InstanceRequest::Resume:
                setPaused(*scene, asked == InstanceRequest::Pause);
                break;
            case InstanceRequest::OpenPanel:
            case InstanceRequest::None:
                scene->openPanel();
                break;
        }
    });
    application.onLaunched([&app] { app.delegate().applicationDidFinishLaunching(); });
    return application.run();
}

const char* noTrayHostMessage(bool docksLater) {
    return docksLater ? "brimlet: no system tray is available; the Brimlet icon will appear as "
                        "soon as one starts, and until then running brimlet again opens its "
                        "panel.\n"
                      : "brimlet: no system tray is available, so Brimlet shows no icon; running "
                        "brimlet again opens its panel.\n";
}

std::unique_ptr<platform::ui::MenuBarExtra> BrimletApp::body() const {
    auto scene = std::make_unique<platform::ui::MenuBarExtra>(
        QCoreApplication::translate("BrimletApp", "Brimlet"), paperclipIcon(),
        QSize(ShelfView::kWidth, ShelfView::kHeight), [] {
            // Before the panel takes the focus.
            adapters::paster().remember();
            auto* view = new ShelfView(ClipStore::shared(), adapters::mainExecutor());
            view->onClosingPick([](const ClipItem& item) {
                // The panel's closing reaches the display first, so that it
                // no longer holds the keyboard when the keys come.
                adapters::syncDisplay();
                adapters::paster().pasteInto(item.text, adapters::clipboardSettled());
            });
            return view;
        });
    setPaused(*scene, ClipStore::shared().paused());
    return scene;
}

void BrimletApp::setPaused(platform::ui::MenuBarExtra& scene, bool paused) {
    ClipStore::shared().setPaused(paused);
    // Where a tray shows a menu (some on a click, most on a right click),
    // opening the panel comes first.
    platform::ui::MenuBarExtra* const extra = &scene;
    scene.setMenu({
        {QCoreApplication::translate("BrimletApp", "Open Brimlet"),
         [extra] { extra->openPanel(); }},
        paused
            ? platform::ui::TrayAction{QCoreApplication::translate("BrimletApp", "Resume history"),
                                       [extra] { setPaused(*extra, false); }}
            : platform::ui::TrayAction{QCoreApplication::translate("BrimletApp", "Pause history"),
                                       [extra] { setPaused(*extra, true); }},
        {QCoreApplication::translate("BrimletApp", "Quit"),
         [] { platform::ui::Application::quit(); }},
    });
    scene.setIcon(paused ? pausedPaperclipIcon() : paperclipIcon());
}

namespace {

QIcon paintedPaperclip() {
    constexpr int kSize = 64;
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // The wire of paperclip.svg, drawn on its 24-unit grid.
    painter.scale(kSize / 24.0, kSize / 24.0);
    painter.translate(12, 12);
    painter.rotate(40);
    painter.translate(-12, -12);
    painter.setPen(QPen(QColor(0x56, 0x70, 0x8c), 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath wire;
    wire.moveTo(10, 8);
    wire.lineTo(10, 15.5);
    wire.arcTo(QRectF(10, 13.5, 4, 4), 180, 180);
    wire.lineTo(14, 5);
    wire.arcTo(QRectF(7, 1.5, 7, 7), 0, 180);
    wire.lineTo(7, 17);
    wire.arcTo(QRectF(7, 12, 10, 10), 180, 180);
    wire.lineTo(17, 9);
    painter.drawPath(wire);
    return QIcon(pixmap);
}

}  // namespace

QIcon pausedPaperclipIcon() {
    // The paperclip faded and struck through, the stroke dark on a light
    // halo so that it reads on light and dark bars alike.
    const QIcon clip = paperclipIcon();
    QIcon paused;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(0.45);
        painter.drawPixmap(0, 0, clip.pixmap(QSize(size, size)));
        painter.setOpacity(1.0);
        const QLineF slash(size * 0.15, size * 0.85, size * 0.85, size * 0.15);
        painter.setPen(QPen(QColor(255, 255, 255, 220), size / 6.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(slash);
        painter.setPen(QPen(QColor(0x33, 0x3b, 0x44), size / 12.0, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(slash);
        painter.end();
        paused.addPixmap(pixmap);
    }
    return paused;
}

QIcon paperclipIcon() {
    QIcon icon(QStringLiteral(":/brimlet/paperclip.svg"));
    // A missing image plugin leaves an icon that is not null but draws nothing.
    if (icon.pixmap(QSize(22, 22)).isNull()) {
        return paintedPaperclip();
    }
    return icon;
}

}  // namespace brimlet
