// Any program of the session may call the tray item and its menu with any
// arguments, a buggy tray host included. Each call gets a reply or a D-Bus
// error, and Brimlet keeps its history and goes on capturing.
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <climits>

#include "e2e/app.h"

namespace brimlet::e2e {
namespace {

// A dbusmenu event, (isvu), as a host sends it.
struct HostEvent {
    int id = 0;
    QString name;
    QDBusVariant data;
    uint time = 0;
};

QDBusArgument& operator<<(QDBusArgument& out, const HostEvent& e) {
    out.beginStructure();
    out << e.id << e.name << e.data << e.time;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, HostEvent& e) {
    in.beginStructure();
    in >> e.id >> e.name >> e.data >> e.time;
    in.endStructure();
    return in;
}

}  // namespace
}  // namespace brimlet::e2e

Q_DECLARE_METATYPE(brimlet::e2e::HostEvent)

namespace brimlet::e2e {
namespace {

class HostileBus : public DesktopTest {
  protected:
    HostileBus() : DesktopTest(Desktop::Kind::Trayer) {}
};

QVariant var(const QVariant& v) {
    return QVariant::fromValue(QDBusVariant(v));
}

TEST_F(HostileBus, EveryMenuAndItemCallIsAnsweredAndBrimletCapturesOn) {
    qDBusRegisterMetaType<HostEvent>();
    qDBusRegisterMetaType<QList<HostEvent>>();
    Brimlet app(desktop);
    desktop.copy("before the calls");
    const QDBusConnection bus = desktop.bus();
    const QString service =
        QString("org.kde.StatusNotifierItem-%1-1").arg(app.process().processId());
    ASSERT_TRUE(
        pumpUntil([&] { return bus.interface()->isServiceRegistered(service).value(); }, 10s));

    const QString menu = "com.canonical.dbusmenu";
    const QString item = "org.kde.StatusNotifierItem";
    const QString props = "org.freedesktop.DBus.Properties";
    const QStringList manyNames(100000, "label");
    QList<int> manyIds;
    for (int i = -50000; i < 50000; ++i) {
        manyIds << i;
    }
    const QList<HostEvent> events{{-1, "clicked", QDBusVariant(0), 0},
                                  {INT_MAX, "clicked", QDBusVariant(QString()), UINT_MAX},
                                  {0, "no such event", QDBusVariant(QStringList{"x"}), 1},
                                  {2, "hovered", QDBusVariant(QByteArray(1000, '\0')), 2}};
    struct Call {
        QString path, interface, method;
        QVariantList args;
    };
    const std::vector<Call> calls{
        {"/MenuBar", menu, "GetLayout", {-1, -1, QStringList()}},
        {"/MenuBar", menu, "GetLayout", {INT_MIN, INT_MAX, QStringList{"label", ""}}},
        {"/MenuBar", menu, "GetLayout", {0, -1, manyNames}},
        {"/MenuBar", menu, "GetLayout", {3, 1, QStringList{"\xff"}}},
        {"/MenuBar", menu, "GetLayout", {999, -7, QStringList()}},
        {"/MenuBar", menu, "GetGroupProperties", {QVariant::fromValue(manyIds), QStringList()}},
        {"/MenuBar", menu, "GetProperty", {-1, "label"}},
        {"/MenuBar", menu, "GetProperty", {1, "no-such-property"}},
        {"/MenuBar", menu, "GetProperty", {INT_MAX, ""}},
        {"/MenuBar", menu, "Event", {-1, "clicked", var(0), 0U}},
        {"/MenuBar", menu, "Event", {1, "", var(QVariantMap()), UINT_MAX}},
        {"/MenuBar", menu, "EventGroup", {QVariant::fromValue(events)}},
        {"/MenuBar", menu, "EventGroup", {QVariant::fromValue(QList<HostEvent>())}},
        {"/MenuBar", menu, "AboutToShow", {INT_MIN}},
        {"/MenuBar", menu, "AboutToShowGroup", {QVariant::fromValue(manyIds)}},
        // Wrong argument types and counts.
        {"/MenuBar", menu, "GetLayout", {"0", "-1", "[]"}},
        {"/MenuBar", menu, "Event", {}},
        {"/MenuBar", props, "GetAll", {menu}},
        {"/MenuBar", props, "Get", {menu, "NoSuchProperty"}},
        {"/MenuBar", props, "Set", {menu, "Version", var(7U)}},
        {"/StatusNotifierItem", item, "SecondaryActivate", {INT_MIN, INT_MAX}},
        {"/StatusNotifierItem", item, "SecondaryActivate", {0, 0}},
        {"/StatusNotifierItem", item, "Scroll", {INT_MAX, "diagonal"}},
        {"/StatusNotifierItem", item, "ContextMenu", {INT_MIN, INT_MIN}},
        {"/StatusNotifierItem", item, "ProvideXdgActivationToken", {QString(70000, 'x')}},
        {"/StatusNotifierItem", item, "Activate", {1.5, "x"}},
        {"/StatusNotifierItem", props, "GetAll", {item}},
        {"/StatusNotifierItem", props, "GetAll", {"no.such.Interface"}},
        {"/NoSuchPath", item, "Activate", {0, 0}},
    };
    for (const Call& call : calls) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, call.path, call.interface, call.method);
        message.setArguments(call.args);
        const QDBusMessage reply = bus.call(message, QDBus::Block, 5000);
        const bool answered =
            reply.type() == QDBusMessage::ReplyMessage ||
            (reply.type() == QDBusMessage::ErrorMessage &&
             !reply.errorName().startsWith("org.freedesktop.DBus.Error.NoReply") &&
             reply.errorName() != "org.freedesktop.DBus.Error.ServiceUnknown" &&
             reply.errorName() != "org.freedesktop.DBus.Error.Timeout");
        ASSERT_TRUE(answered) << call.method.toStdString() << ": "
                              << reply.errorName().toStdString() << " "
                              << reply.errorMessage().toStdString();
    }

    // Every method and signal a host may use is there.
    QDBusMessage introspect = QDBusMessage::createMethodCall(
        service, "/MenuBar", "org.freedesktop.DBus.Introspectable", "Introspect");
    const QString xml = bus.call(introspect, QDBus::Block, 5000).arguments().value(0).toString();
    for (const char* name :
         {"\"GetLayout\"", "\"GetGroupProperties\"", "\"GetProperty\"", "\"Event\"",
          "\"EventGroup\"", "\"AboutToShow\"", "\"AboutToShowGroup\"", "\"LayoutUpdated\"",
          "\"ItemsPropertiesUpdated\"", "\"ItemActivationRequested\""}) {
        EXPECT_TRUE(xml.contains(name)) << name;
    }
    const QString itemXml = bus.call(QDBusMessage::createMethodCall(
                                         service, "/StatusNotifierItem",
                                         "org.freedesktop.DBus.Introspectable", "Introspect"),
                                     QDBus::Block, 5000)
                                .arguments()
                                .value(0)
                                .toString();
    EXPECT_TRUE(itemXml.contains("\"ProvideXdgActivationToken\""));

    // The history is whole and capturing goes on.
    desktop.copy("after the calls");
    pumpFor(1200ms);
    QDBusMessage activate =
        QDBusMessage::createMethodCall(service, "/StatusNotifierItem", item, "Activate");
    activate << INT_MAX << INT_MIN;
    bus.call(activate, QDBus::Block, 5000);
    EXPECT_TRUE(app.waitForRows({"after the calls", "before the calls"})) << app.describe();
}

}  // namespace
}  // namespace brimlet::e2e
