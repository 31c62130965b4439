#include "e2e/app.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QDebug>
#include <QRegularExpression>
#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>

namespace brimlet::e2e {
namespace {

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kItem = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenu = QStringLiteral("com.canonical.dbusmenu");

// AT-SPI's references to accessibles, (service, object path), in an a(so) reply.
QList<std::pair<QString, QDBusObjectPath>> refsIn(const QDBusMessage& reply) {
    return qdbus_cast<QList<std::pair<QString, QDBusObjectPath>>>(reply.arguments().value(0));
}

A11yNode readNode(const QDBusConnection& bus, const QString& service, const QString& path) {
    QDBusInterface accessible(service, path, kAccessible, bus);
    const auto states = qdbus_cast<QList<uint>>(accessible.call("GetState").arguments().value(0));
    const QDBusMessage extents = QDBusInterface(service, path, "org.a11y.atspi.Component", bus)
                                     .call("GetExtents", uint(0));  // on the screen
    A11yNode node{.role = QDBusReply<QString>(accessible.call("GetRoleName")).value(),
                  .name = accessible.property("Name").toString(),
                  .extents = qdbus_cast<QRect>(extents.arguments().value(0)),
                  .showing = (states.value(0) & (1U << 25)) != 0};  // ATSPI_STATE_SHOWING
    for (const auto& [childService, childPath] : refsIn(accessible.call("GetChildren"))) {
        node.children.push_back(readNode(bus, childService, childPath.path()));
    }
    return node;
}

QVariant property(const QDBusConnection& bus, const QString& service, const QString& path,
                  const QString& interface, const QString& name) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, "org.freedesktop.DBus.Properties", "Get");
    call << interface << name;
    const QDBusReply<QDBusVariant> reply = bus.call(call, QDBus::Block, 5000);
    return reply.isValid() ? reply.value().variant() : QVariant();
}

QString menuPath(const TrayItem& item) {
    return property(item.bus, item.service, item.path, kItem, "Menu")
        .value<QDBusObjectPath>()
        .path();
}

// The labels of the shown top-level entries of the item's menu, and their ids.
QStringList menuLabels(const TrayItem& item, QList<int>* ids = nullptr) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(item.service, menuPath(item), kMenu, "GetLayout");
    call << 0 << 1 << QStringList();
    // The root entry, (ia{sv}av): its id, properties and children, each of
    // those an entry again, wrapped in a variant.
    const auto root =
        item.bus.call(call, QDBus::Block, 5000).arguments().value(1).value<QDBusArgument>();
    int id = 0;
    QVariantMap properties;
    QList<QDBusVariant> children;
    root.beginStructure();
    root >> id >> properties >> children;
    root.endStructure();
    QStringList labels;
    for (const QDBusVariant& child : children) {
        const auto entry = child.variant().value<QDBusArgument>();
        entry.beginStructure();
        entry >> id >> properties;
        entry.endStructure();
        if (properties.value("visible", true).toBool() &&
            properties.value("type").toString() != "separator") {
            // "_Quit" shows as "Quit"; "__" is a plain underscore.
            labels << properties.value("label").toString().replace(QRegularExpression("_(.)"),
                                                                   "\\1");
            if (ids != nullptr) {
                *ids << id;
            }
        }
    }
    return labels;
}

}  // namespace

std::vector<const A11yNode*> A11yNode::findAll(const QString& wantedRole) const {
    std::vector<const A11yNode*> out;
    if (role == wantedRole) {
        out.push_back(this);
    }
    for (const auto& child : children) {
        const auto more = child.findAll(wantedRole);
        out.insert(out.end(), more.begin(), more.end());
    }
    return out;
}

std::string A11yNode::describe(int depth) const {
    std::string out =
        QString("%1%2 \"%3\"%4\n")
            .arg(QString(depth * 2, ' '), role, name.left(60), showing ? "" : " (hidden)")
            .toStdString();
    for (const auto& child : children) {
        out += child.describe(depth + 1);
    }
    return out;
}

std::vector<const A11yNode*> rows(const A11yNode& panel) {
    // The entries are the buttons above the divider line; the footer's are below it.
    int divider = INT_MAX;
    for (const A11yNode* frame : panel.findAll("frame")) {
        if (frame->extents.height() <= 3 && frame->extents.width() > 100) {
            divider = std::min(divider, frame->extents.top());
        }
    }
    std::vector<const A11yNode*> out;
    for (const A11yNode* button : panel.findAll("push button")) {
        if (button->showing && button->extents.bottom() < divider) {
            out.push_back(button);
        }
    }
    // Reused rows keep their place among the widgets; the screen order counts.
    std::stable_sort(out.begin(), out.end(), [](const A11yNode* a, const A11yNode* b) {
        return a->extents.top() < b->extents.top();
    });
    return out;
}

QStringList labels(const std::optional<A11yNode>& panel) {
    QStringList out;
    for (const A11yNode* label : panel ? panel->findAll("label") : std::vector<const A11yNode*>{}) {
        if (label->showing) {
            out << label->name;
        }
    }
    return out;
}

QRect panelWindow(const A11yNode& panel) {
    QRect window;
    for (const auto& child : panel.children) {
        window |= child.extents;
    }
    return window;
}

::testing::AssertionResult besideIcon(const QRect& panel, const QRect& icon, const QRect& bar) {
    const int dx = std::max({0, icon.left() - panel.right(), panel.left() - icon.right()});
    const int dy = std::max({0, icon.top() - panel.bottom(), panel.top() - icon.bottom()});
    if (Desktop::kScreen.contains(panel) && !panel.intersects(bar) && std::hypot(dx, dy) <= 50) {
        return ::testing::AssertionSuccess();
    }
    QString seen;
    QDebug(&seen) << "panel at" << panel << "icon at" << icon << "bar at" << bar;
    return ::testing::AssertionFailure() << seen.toStdString();
}

Brimlet::Brimlet(const Desktop& desktop, const QStringList& environment) : desktop_(desktop) {
    QProcessEnvironment env = desktop.environment();
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    for (const QString& entry : environment) {
        env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    }
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral(BRIMLET_BINARY));
    process_.waitForStarted(5000);
    // Qt shares connections by name; each Brimlet gets its own.
    static int serial = 0;
    a11yBus_ = QString("brimlet-e2e-a11y-%1").arg(++serial);
    QDBusInterface launcher("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", desktop.bus());
    QDBusConnection::connectToBus(QDBusReply<QString>(launcher.call("GetAddress")).value(),
                                  a11yBus_);
}

Brimlet::~Brimlet() {
    process_.kill();
    process_.waitForFinished(2000);
    QDBusConnection::disconnectFromBus(a11yBus_);
}

std::optional<QRect> Brimlet::waitForTrayIcon() {
    std::optional<QRect> icon;
    pumpUntil(
        [&] {
            for (const QRect& window : desktop_.windows("brimlet")) {
                // The docked icon is small; the panel, when open, is not.
                if (window.width() <= 64 && window.height() <= 64) {
                    icon = window;
                }
            }
            return icon.has_value();
        },
        10s);
    return icon;
}

std::optional<A11yNode> Brimlet::panel() const {
    const QDBusConnection bus(a11yBus_);
    QDBusInterface registry("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                            kAccessible, bus);
    // By its process: one that handed over and ended may still be listed.
    for (const auto& [service, path] : refsIn(registry.call("GetChildren"))) {
        if (bus.interface()->servicePid(service).value() == process_.processId()) {
            auto app = readNode(bus, service, path.path());
            const auto buttons = app.findAll("push button");
            const bool open = std::any_of(buttons.begin(), buttons.end(),
                                          [](const A11yNode* b) { return b->name == "Quit"; });
            return open ? std::optional(app) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<A11yNode> Brimlet::waitForPanel(
    const std::function<bool(const A11yNode&)>& ready) const {
    std::optional<A11yNode> found;
    const bool done = pumpUntil(
        [&] {
            found = panel();
            return found && ready(*found);
        },
        std::chrono::seconds(10));
    return done ? found : std::nullopt;
}

std::optional<A11yNode> Brimlet::waitForRows(const QStringList& texts) const {
    return waitForPanel([&](const A11yNode& panel) {
        QStringList shown;
        for (const A11yNode* row : rows(panel)) {
            shown << row->name;
        }
        return shown == texts;
    });
}

bool Brimlet::waitForExit() {
    return pumpUntil([&] { return process_.state() == QProcess::NotRunning; }, 5s) &&
           process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

std::string Brimlet::describe() const {
    const auto open = panel();
    return open ? open->describe() : std::string("(no panel on the accessibility bus)");
}

PasteTarget::PasteTarget(const Desktop& desktop, const QStringList& platform) {
    QProcessEnvironment env = desktop.environment();
    for (const QString& setting : platform) {
        env.insert(setting.section('=', 0, 0), setting.section('=', 1));
    }
    process_.setProcessEnvironment(env);
    process_.start(QStringLiteral(PASTE_TARGET_BINARY));
    process_.waitForStarted(5000);
}

PasteTarget::~PasteTarget() {
    close();
}

void PasteTarget::read() {
    while (process_.canReadLine()) {
        const QByteArray line = process_.readLine().trimmed();
        if (line.startsWith("text ")) {
            text_ = QByteArray::fromHex(line.mid(5));
        } else if (line.startsWith("focus ")) {
            focused_ = line == "focus in";
        }
    }
}

QByteArray PasteTarget::text() {
    read();
    return text_;
}

bool PasteTarget::focused() {
    read();
    return focused_;
}

std::optional<TrayItem> TrayItem::waitFor(const Desktop& desktop, qint64 pid) {
    std::optional<TrayItem> found;
    const QDBusConnection bus = desktop.bus();
    pumpUntil(
        [&] {
            // Each is "service/object/path", or a bare service on the usual path.
            for (const QString& entry : property(bus, kWatcher, "/StatusNotifierWatcher", kWatcher,
                                                 "RegisteredStatusNotifierItems")
                                            .toStringList()) {
                const QString service = entry.section('/', 0, 0);
                if (bus.interface()->servicePid(service).value() == pid) {
                    found = TrayItem{
                        bus, service,
                        entry.contains('/') ? "/" + entry.section('/', 1) : "/StatusNotifierItem"};
                    return true;
                }
            }
            return false;
        },
        10s);
    return found;
}

bool TrayItem::activate(QPoint at) const {
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, kItem, "Activate");
    call << at.x() << at.y();
    return bus.call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

QString TrayItem::text(const QString& name) const {
    return property(bus, service, path, kItem, name).toString();
}

QStringList TrayItem::menu() const {
    return menuLabels(*this);
}

bool TrayItem::choose(const QString& entry) const {
    QList<int> ids;
    const auto at = menuLabels(*this, &ids).indexOf(entry);
    if (at < 0) {
        return false;
    }
    QDBusMessage event = QDBusMessage::createMethodCall(service, menuPath(*this), kMenu, "Event");
    event << ids.value(at) << QString("clicked") << QVariant::fromValue(QDBusVariant(QVariant(0)))
          << 0U;
    return bus.call(event, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

}  // namespace brimlet::e2e
