#include "e2e/app.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QRegularExpression>
#include <algorithm>
#include <array>
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
std::vector<std::pair<QString, QString>> refsIn(const QDBusMessage& reply) {
    std::vector<std::pair<QString, QString>> refs;
    const auto list = reply.arguments().value(0).value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QString service;
        QDBusObjectPath path;
        list.beginStructure();
        list >> service >> path;
        list.endStructure();
        refs.emplace_back(service, path.path());
    }
    list.endArray();
    return refs;
}

A11yNode readNode(const QDBusConnection& bus, const QString& service, const QString& path) {
    A11yNode node;
    QDBusInterface accessible(service, path, kAccessible, bus);
    node.name = accessible.property("Name").toString();
    node.role = QDBusReply<QString>(accessible.call("GetRoleName")).value();
    QList<uint> states;
    accessible.call("GetState").arguments().value(0).value<QDBusArgument>() >> states;
    node.showing = (states.value(0) & (1U << 25)) != 0;  // ATSPI_STATE_SHOWING
    const QDBusMessage extents = QDBusInterface(service, path, "org.a11y.atspi.Component", bus)
                                     .call("GetExtents", uint(0));  // on the screen
    std::array<int, 4> xywh{};
    const auto rect = extents.arguments().value(0).value<QDBusArgument>();
    rect.beginStructure();
    rect >> xywh[0] >> xywh[1] >> xywh[2] >> xywh[3];
    rect.endStructure();
    node.extents = QRect(xywh[0], xywh[1], xywh[2], xywh[3]);
    for (const auto& [childService, childPath] : refsIn(accessible.call("GetChildren"))) {
        node.children.push_back(readNode(bus, childService, childPath));
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

// A dbusmenu entry, (ia{sv}av): its id and properties, and those of its
// children, which come wrapped in variants.
using MenuEntry = std::pair<int, QVariantMap>;
MenuEntry readEntry(const QDBusArgument& entry, std::vector<MenuEntry>* children = nullptr) {
    MenuEntry out;
    entry.beginStructure();
    entry >> out.first >> out.second;
    entry.beginArray();
    while (!entry.atEnd()) {
        QDBusVariant child;
        entry >> child;
        const MenuEntry read = readEntry(child.variant().value<QDBusArgument>());
        if (children != nullptr) {
            children->push_back(read);
        }
    }
    entry.endArray();
    entry.endStructure();
    return out;
}

QString menuPath(const TrayItem& item) {
    return property(item.bus, item.service, item.path, kItem, "Menu")
        .value<QDBusObjectPath>()
        .path();
}

// The shown top-level entries of the item's menu: (id, label).
std::vector<std::pair<int, QString>> menuEntries(const TrayItem& item) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(item.service, menuPath(item), kMenu, "GetLayout");
    call << 0 << 1 << QStringList();
    const QDBusMessage reply = item.bus.call(call, QDBus::Block, 5000);
    std::vector<MenuEntry> children;
    if (reply.arguments().size() >= 2) {
        readEntry(reply.arguments().at(1).value<QDBusArgument>(), &children);
    }
    std::vector<std::pair<int, QString>> shown;
    for (const auto& [id, properties] : children) {
        if (properties.value("visible", true).toBool() &&
            properties.value("type").toString() != "separator") {
            // "_Quit" shows as "Quit"; "__" is a plain underscore.
            shown.emplace_back(id, properties.value("label").toString().replace(
                                       QRegularExpression("_(.)"), "\\1"));
        }
    }
    return shown;
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

QStringList rowTexts(const A11yNode& panel) {
    QStringList out;
    for (const A11yNode* row : rows(panel)) {
        out << row->name;
    }
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
    const auto show = [](const QRect& r) {
        return QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    return ::testing::AssertionFailure()
           << "panel at " << show(panel).toStdString() << ", icon at " << show(icon).toStdString()
           << ", bar at " << show(bar).toStdString();
}

Brimlet::Brimlet(const Desktop& desktop) : desktop_(desktop) {
    QProcessEnvironment env = desktop.environment();
    env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
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

std::optional<QRect> Brimlet::waitForTrayIcon(std::chrono::milliseconds timeout) {
    std::optional<QRect> icon;
    pumpUntil(
        [&] {
            for (const QString& id : desktop_.windows("brimlet")) {
                icon = desktop_.windowGeometry(id);
                // The docked icon is small; the panel, when open, is not.
                if (icon && icon->width() <= 64 && icon->height() <= 64) {
                    return true;
                }
            }
            icon.reset();
            return false;
        },
        timeout);
    return icon;
}

std::optional<A11yNode> Brimlet::panel() const {
    const QDBusConnection bus(a11yBus_);
    QDBusInterface registry("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                            kAccessible, bus);
    // By its process: one that handed over and ended may still be listed.
    for (const auto& [service, path] : refsIn(registry.call("GetChildren"))) {
        if (bus.interface()->servicePid(service).value() == process_.processId()) {
            auto app = readNode(bus, service, path);
            const auto buttons = app.findAll("push button");
            const bool open = std::any_of(buttons.begin(), buttons.end(),
                                          [](const A11yNode* b) { return b->name == "Quit"; });
            return open ? std::optional(app) : std::nullopt;
        }
    }
    return std::nullopt;
}

std::optional<A11yNode> Brimlet::waitForPanel(const std::function<bool(const A11yNode&)>& ready,
                                              std::chrono::milliseconds timeout) const {
    std::optional<A11yNode> found;
    const bool done = pumpUntil(
        [&] {
            found = panel();
            return found && ready(*found);
        },
        timeout);
    return done ? found : std::nullopt;
}

std::optional<A11yNode> Brimlet::waitForRows(const QStringList& texts) const {
    return waitForPanel([&](const A11yNode& p) { return rowTexts(p) == texts; }, 10s);
}

bool Brimlet::waitForExit(std::chrono::milliseconds timeout) {
    pumpUntil([&] { return process_.state() == QProcess::NotRunning; }, timeout);
    return process_.state() == QProcess::NotRunning &&
           process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
}

std::string Brimlet::describe() const {
    const auto open = panel();
    return open ? open->describe() : std::string("(no panel on the accessibility bus)");
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
    QStringList labels;
    for (const auto& [id, label] : menuEntries(*this)) {
        labels << label;
    }
    return labels;
}

bool TrayItem::choose(const QString& entry) const {
    for (const auto& [id, label] : menuEntries(*this)) {
        if (label == entry) {
            QDBusMessage event =
                QDBusMessage::createMethodCall(service, menuPath(*this), kMenu, "Event");
            event << id << QString("clicked") << QVariant::fromValue(QDBusVariant(QVariant(0)))
                  << 0U;
            return bus.call(event, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
        }
    }
    return false;
}

}  // namespace brimlet::e2e
