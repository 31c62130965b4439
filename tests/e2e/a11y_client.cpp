#include "e2e/a11y_client.h"

#include <QDBusArgument>
#include <QDBusInterface>
#include <QDBusMetaType>
#include <QDBusReply>

namespace brimlet::e2e::detail {

// An (owner, object path) pair, AT-SPI's reference to an accessible.
struct ObjectRef {
    QString service;
    QDBusObjectPath path;
};

inline QDBusArgument& operator<<(QDBusArgument& argument, const ObjectRef& ref) {
    argument.beginStructure();
    argument << ref.service << ref.path;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument& operator>>(const QDBusArgument& argument, ObjectRef& ref) {
    argument.beginStructure();
    argument >> ref.service >> ref.path;
    argument.endStructure();
    return argument;
}

}  // namespace brimlet::e2e::detail

Q_DECLARE_METATYPE(brimlet::e2e::detail::ObjectRef)

namespace brimlet::e2e {
namespace {

using detail::ObjectRef;

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
    QDBusInterface accessible(ref.service, ref.path.path(), kAccessible, bus);
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

    QDBusInterface component(ref.service, ref.path.path(), "org.a11y.atspi.Component", bus);
    const QDBusMessage extents = component.call("GetExtents", uint(0));  // screen coordinates
    if (!extents.arguments().isEmpty()) {
        int x = 0;
        int y = 0;
        int w = 0;
        int h = 0;
        const QDBusArgument rect = extents.arguments().first().value<QDBusArgument>();
        rect.beginStructure();
        rect >> x >> y >> w >> h;
        rect.endStructure();
        node.extents = QRect(x, y, w, h);
    }
    if (node.role == "text") {
        QDBusInterface text(ref.service, ref.path.path(), "org.a11y.atspi.Text", bus);
        node.text = QDBusReply<QString>(text.call("GetText", 0, -1)).value();
    }

    constexpr int kMaxDepth = 40;
    if (depth < kMaxDepth) {
        const QDBusMessage reply = accessible.call("GetChildren");
        if (!reply.arguments().isEmpty()) {
            QList<ObjectRef> children;
            reply.arguments().first().value<QDBusArgument>() >> children;
            for (const auto& child : children) {
                node.children.push_back(readNode(bus, child, depth + 1));
            }
        }
    }
    return node;
}

}  // namespace

const A11yNode* A11yNode::find(const QString& wantedRole, const QString& wantedName) const {
    if (role == wantedRole && name == wantedName) {
        return this;
    }
    for (const auto& child : children) {
        if (const A11yNode* found = child.find(wantedRole, wantedName)) {
            return found;
        }
    }
    return nullptr;
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

A11yClient::A11yClient(const QString& sessionBusAddress) : bus_(connectA11yBus(sessionBusAddress)) {
    qDBusRegisterMetaType<detail::ObjectRef>();
    qDBusRegisterMetaType<QList<detail::ObjectRef>>();
}

A11yClient::~A11yClient() {
    QDBusConnection::disconnectFromBus(bus_.name());
}

std::optional<A11yNode> A11yClient::application(const QString& appName) const {
    const detail::ObjectRef root{"org.a11y.atspi.Registry",
                                 QDBusObjectPath("/org/a11y/atspi/accessible/root")};
    QDBusInterface desktop(root.service, root.path.path(), kAccessible, bus_);
    const QDBusMessage reply = desktop.call("GetChildren");
    if (reply.arguments().isEmpty()) {
        return std::nullopt;
    }
    QList<detail::ObjectRef> apps;
    reply.arguments().first().value<QDBusArgument>() >> apps;
    for (const auto& app : apps) {
        QDBusInterface accessible(app.service, app.path.path(), kAccessible, bus_);
        if (accessible.property("Name").toString() == appName) {
            return readNode(bus_, app, 0);
        }
    }
    return std::nullopt;
}

}  // namespace brimlet::e2e
