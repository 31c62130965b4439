#include "e2e/a11y_client.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusReply>
#include <algorithm>
#include <array>

namespace brimlet::e2e {
namespace {

// An (owner, object path) pair, AT-SPI's reference to an accessible.
struct ObjectRef {
    QString service;
    QString path;
};

// The references in a reply of signature a(so).
std::vector<ObjectRef> refsIn(const QDBusMessage& reply) {
    std::vector<ObjectRef> refs;
    if (reply.arguments().isEmpty()) {
        return refs;
    }
    const auto list = reply.arguments().first().value<QDBusArgument>();
    list.beginArray();
    while (!list.atEnd()) {
        QDBusObjectPath path;
        list.beginStructure();
        list >> refs.emplace_back().service >> path;
        list.endStructure();
        refs.back().path = path.path();
    }
    list.endArray();
    return refs;
}

// AT-SPI's state bits (atspi-constants.h).
constexpr int kStateEnabled = 8;
constexpr int kStateFocused = 12;
constexpr int kStateShowing = 25;

const QString kAccessible = QStringLiteral("org.a11y.atspi.Accessible");

// Qt shares connections by name; each client needs its own, as each test
// has its own buses.
QString uniqueName(const char* prefix) {
    static int serial = 0;
    return QString("%1-%2").arg(prefix).arg(++serial);
}

QDBusConnection connectA11yBus(const QString& sessionBusAddress) {
    QDBusConnection session =
        QDBusConnection::connectToBus(sessionBusAddress, uniqueName("brimlet-e2e-session"));
    QDBusInterface launcher("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", session);
    const QDBusReply<QString> address = launcher.call("GetAddress");
    QDBusConnection::disconnectFromBus(session.name());
    return QDBusConnection::connectToBus(address.isValid() ? address.value() : QString(),
                                         uniqueName("brimlet-e2e-a11y"));
}

A11yNode readNode(const QDBusConnection& bus, const ObjectRef& ref, int depth) {
    A11yNode node;
    QDBusInterface accessible(ref.service, ref.path, kAccessible, bus);
    node.name = accessible.property("Name").toString();
    node.role = QDBusReply<QString>(accessible.call("GetRoleName")).value();

    const QDBusMessage states = accessible.call("GetState");
    if (!states.arguments().isEmpty()) {
        QList<uint> bits;
        states.arguments().first().value<QDBusArgument>() >> bits;
        const auto has = [&](int bit) {
            const auto word = static_cast<qsizetype>(bit / 32);
            return word < bits.size() && (bits[word] & (1U << (bit % 32))) != 0;
        };
        node.enabled = has(kStateEnabled);
        node.focused = has(kStateFocused);
        node.showing = has(kStateShowing);
    }

    QDBusInterface component(ref.service, ref.path, "org.a11y.atspi.Component", bus);
    const QDBusMessage extents = component.call("GetExtents", uint(0));  // screen coordinates
    if (!extents.arguments().isEmpty()) {
        std::array<int, 4> xywh{};
        const QDBusArgument rect = extents.arguments().first().value<QDBusArgument>();
        rect.beginStructure();
        rect >> xywh[0] >> xywh[1] >> xywh[2] >> xywh[3];
        rect.endStructure();
        node.extents = QRect(xywh[0], xywh[1], xywh[2], xywh[3]);
    }
    if (node.role == "text") {
        QDBusInterface text(ref.service, ref.path, "org.a11y.atspi.Text", bus);
        node.text = QDBusReply<QString>(text.call("GetText", 0, -1)).value();
    }

    constexpr int kMaxDepth = 40;
    if (depth < kMaxDepth) {
        for (const auto& child : refsIn(accessible.call("GetChildren"))) {
            node.children.push_back(readNode(bus, child, depth + 1));
        }
    }
    return node;
}

}  // namespace

const A11yNode* A11yNode::find(const QString& wantedRole, const QString& wantedName) const {
    const auto all = findAll(wantedRole);
    const auto found = std::find_if(all.begin(), all.end(),
                                    [&](const A11yNode* node) { return node->name == wantedName; });
    return found == all.end() ? nullptr : *found;
}

std::string A11yNode::describe(int depth) const {
    std::string out = std::string(static_cast<std::size_t>(depth) * 2, ' ') + role.toStdString() +
                      " \"" + name.left(60).toStdString() + "\"" + (enabled ? "" : " (disabled)") +
                      (showing ? "" : " (hidden)") + " at " + std::to_string(extents.x()) + "," +
                      std::to_string(extents.y()) + " " + std::to_string(extents.width()) + "x" +
                      std::to_string(extents.height()) + "\n";
    for (const auto& child : children) {
        out += child.describe(depth + 1);
    }
    return out;
}

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

A11yClient::A11yClient(const QString& sessionBusAddress)
    : bus_(connectA11yBus(sessionBusAddress)) {}

A11yClient::~A11yClient() {
    QDBusConnection::disconnectFromBus(bus_.name());
}

std::optional<A11yNode> A11yClient::application(const QString& appName) const {
    QDBusInterface desktop("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                           kAccessible, bus_);
    for (const auto& app : refsIn(desktop.call("GetChildren"))) {
        QDBusInterface accessible(app.service, app.path, kAccessible, bus_);
        if (accessible.property("Name").toString() == appName) {
            return readNode(bus_, app, 0);
        }
    }
    return std::nullopt;
}

}  // namespace brimlet::e2e
