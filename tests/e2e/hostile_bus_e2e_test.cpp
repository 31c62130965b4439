// Any program of the session may call the tray item and its menu with any
// arguments, a buggy tray host included. Each call gets a reply or a D-Bus
// error, and Brimlet keeps its history and goes on capturing. (The fuzz
// target of the adaptors sends them any event list.)
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <climits>

#include "e2e/app.h"

namespace brimlet::e2e {
namespace {

class HostileBus : public DesktopTest {
  protected:
    HostileBus() : DesktopTest(Desktop::Kind::Trayer) {}
};

TEST_F(HostileBus, EveryMenuAndItemCallIsAnsweredAndBrimletCapturesOn) {
    Brimlet app(desktop);
    desktop.copy("before the calls");
    const QDBusConnection bus = desktop.bus();
    const QString service =
        QString("org.kde.StatusNotifierItem-%1-1").arg(app.process().processId());
    ASSERT_TRUE(
        pumpUntil([&] { return bus.interface()->isServiceRegistered(service).value(); }, 10s));
    const auto call = [&](const QString& path, const QString& method, const QVariantList& args) {
        const auto dot = method.lastIndexOf('.');
        QDBusMessage message =
            QDBusMessage::createMethodCall(service, path, method.left(dot), method.mid(dot + 1));
        message.setArguments(args);
        return bus.call(message, QDBus::Block, 5000);
    };

    QList<int> manyIds;
    for (int i = -50000; i < 50000; ++i) {
        manyIds << i;
    }
    const auto ids = QVariant::fromValue(manyIds);
    const auto v = [](const QVariant& value) { return QVariant::fromValue(QDBusVariant(value)); };
    const QString menu = "com.canonical.dbusmenu.";
    const QString item = "org.kde.StatusNotifierItem.";
    const QString props = "org.freedesktop.DBus.Properties.";
    const std::vector<std::tuple<QString, QString, QVariantList>> calls{
        {"/MenuBar", menu + "GetLayout", {-1, -1, QStringList()}},
        {"/MenuBar", menu + "GetLayout", {INT_MIN, INT_MAX, QStringList{"label", ""}}},
        {"/MenuBar", menu + "GetLayout", {0, -1, QStringList(100000, "label")}},
        {"/MenuBar", menu + "GetLayout", {999, -7, QStringList{"\xff"}}},
        {"/MenuBar", menu + "GetGroupProperties", {ids, QStringList()}},
        {"/MenuBar", menu + "GetProperty", {-1, "label"}},
        {"/MenuBar", menu + "GetProperty", {1, "no-such-property"}},
        {"/MenuBar", menu + "Event", {-1, "clicked", v(0), 0U}},
        {"/MenuBar", menu + "Event", {1, "", v(QVariantMap()), UINT_MAX}},
        {"/MenuBar", menu + "AboutToShow", {INT_MIN}},
        {"/MenuBar", menu + "AboutToShowGroup", {ids}},
        {"/MenuBar", menu + "GetLayout", {"0", "-1", "[]"}},  // wrong types
        {"/MenuBar", menu + "Event", {}},
        {"/MenuBar", props + "GetAll", {menu.chopped(1)}},
        {"/MenuBar", props + "Set", {menu.chopped(1), "Version", v(7U)}},
        {"/StatusNotifierItem", item + "Scroll", {INT_MAX, "diagonal"}},
        {"/StatusNotifierItem", item + "ProvideXdgActivationToken", {QString(70000, 'x')}},
        {"/StatusNotifierItem", item + "Activate", {1.5, "x"}},
        {"/StatusNotifierItem", props + "GetAll", {item.chopped(1)}},
        {"/NoSuchPath", item + "Activate", {0, 0}},
    };
    for (const auto& [path, method, args] : calls) {
        const QDBusMessage reply = call(path, method, args);
        EXPECT_TRUE(reply.type() == QDBusMessage::ReplyMessage ||
                    (reply.type() == QDBusMessage::ErrorMessage &&
                     !reply.errorName().contains("NoReply") &&
                     !reply.errorName().contains("ServiceUnknown")))
            << method.toStdString() << ": " << reply.errorName().toStdString();
    }

    // Every method and signal a host may use is there.
    const QString introspect = "org.freedesktop.DBus.Introspectable.Introspect";
    const QString xml = call("/MenuBar", introspect, {}).arguments().value(0).toString() +
                        call("/StatusNotifierItem", introspect, {}).arguments().value(0).toString();
    for (const char* name :
         {"GetLayout", "GetGroupProperties", "GetProperty", "Event\"", "EventGroup",
          "AboutToShow\"", "AboutToShowGroup", "LayoutUpdated", "ItemsPropertiesUpdated",
          "ItemActivationRequested", "ProvideXdgActivationToken"}) {
        EXPECT_TRUE(xml.contains(QString("name=\"%1").arg(name))) << name;
    }

    // The history is whole and capturing goes on.
    desktop.copy("after the calls");
    pumpFor(1200ms);
    call("/StatusNotifierItem", item + "Activate", {INT_MAX, INT_MIN});
    EXPECT_TRUE(app.waitForRows({"after the calls", "before the calls"}))
        << app.describe() << app.standardError().constData();
}

}  // namespace
}  // namespace brimlet::e2e
