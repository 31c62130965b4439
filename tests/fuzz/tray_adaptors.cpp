// Any call a program on the session bus could make to the tray item and its
// menu, with any ids, depths, property names, events and variant types, sent
// through the bus as a host's would be: each gets a reply or a D-Bus error,
// and the menu still answers afterwards.
#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QIcon>
#include <QWidget>
#include <cstdint>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "platform/ui/status_notifier_item.h"

namespace {

using brimlet::platform::ui::MenuEvent;
using brimlet::platform::ui::MenuEventList;

QString gService;

QString text(FuzzedDataProvider& in) {
    return QString::fromStdString(in.ConsumeRandomLengthString(16));
}

QVariant arbitrary(FuzzedDataProvider& in, int depth = 0) {
    const auto inner = [&] { return QVariant::fromValue(QDBusVariant(arbitrary(in, depth + 1))); };
    switch (in.ConsumeIntegralInRange(0, depth < 2 ? 7 : 4)) {
        case 0:
            return in.ConsumeIntegral<int>();
        case 1:
            return in.ConsumeIntegral<uint>();
        case 2:
            return in.ConsumeFloatingPoint<double>();
        case 3:
            return QByteArray::fromStdString(in.ConsumeRandomLengthString(16));
        case 4:
            return text(in);
        case 5:
            return inner();
        case 6:
            return QVariantMap{{text(in), inner()}};
        default:
            return QStringList{text(in), text(in)};
    }
}

int id(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? in.ConsumeIntegralInRange(-1, 4) : in.ConsumeIntegral<int>();
}

QDBusMessage call(const QString& path, const QString& method, const QVariantList& arguments) {
    const auto dot = method.lastIndexOf('.');
    QDBusMessage message =
        QDBusMessage::createMethodCall(gService, path, method.left(dot), method.mid(dot + 1));
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 5000);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    new QApplication(*argc, *argv);
    auto* item = new brimlet::platform::ui::StatusNotifierItem("Brimlet", QIcon(), [](QPoint) {});
    item->setMenu({{"Open", [] {}}, {"Pause", [] {}}, {"Quit", [] {}}});
    gService = QString("org.kde.StatusNotifierItem-%1-1").arg(QApplication::applicationPid());
    if (!QDBusConnection::sessionBus().isConnected()) {
        qFatal("needs a session bus (the fuzz tests start one)");
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    QList<int> ids(in.ConsumeIntegralInRange(0, 64));
    for (int& each : ids) {
        each = id(in);
    }
    MenuEventList events(in.ConsumeIntegralInRange(0, 8));
    for (MenuEvent& event : events) {
        event = {id(in), in.ConsumeBool() ? "clicked" : text(in), QDBusVariant(arbitrary(in)),
                 in.ConsumeIntegral<uint>()};
    }
    const QStringList names{in.ConsumeBool() ? "label" : text(in), text(in)};
    const QString menu = "com.canonical.dbusmenu.";
    const QString sni = "org.kde.StatusNotifierItem.";
    const QString properties = "org.freedesktop.DBus.Properties.";
    const std::vector<std::tuple<QString, QString, QVariantList>> calls{
        {"/MenuBar", menu + "GetLayout", {id(in), id(in), names}},
        {"/MenuBar", menu + "GetGroupProperties", {QVariant::fromValue(ids), names}},
        {"/MenuBar", menu + "GetProperty", {id(in), names[0]}},
        {"/MenuBar",
         menu + "Event",
         {id(in), names[0], QVariant::fromValue(QDBusVariant(arbitrary(in))), 0U}},
        {"/MenuBar", menu + "EventGroup", {QVariant::fromValue(events)}},
        {"/MenuBar", menu + "AboutToShow", {id(in)}},
        {"/MenuBar", menu + "AboutToShowGroup", {QVariant::fromValue(ids)}},
        {"/MenuBar", properties + "Get", {menu.chopped(1), names[0]}},
        {"/StatusNotifierItem", sni + "Activate", {id(in), id(in)}},
        {"/StatusNotifierItem", sni + "SecondaryActivate", {id(in), id(in)}},
        {"/StatusNotifierItem", sni + "ContextMenu", {id(in), id(in)}},
        {"/StatusNotifierItem", sni + "Scroll", {id(in), names[0]}},
        {"/StatusNotifierItem", sni + "ProvideXdgActivationToken", {names[0]}},
        {"/StatusNotifierItem", properties + "Get", {sni.chopped(1), names[0]}},
    };
    auto [path, method, arguments] =
        calls[in.ConsumeIntegralInRange<std::size_t>(0, calls.size() - 1)];
    // Now and then an argument of another type than the method takes.
    if (!arguments.isEmpty() && in.ConsumeIntegralInRange(0, 7) == 0) {
        arguments[in.ConsumeIntegralInRange<qsizetype>(0, arguments.size() - 1)] = arbitrary(in);
    }
    const QDBusMessage reply = call(path, method, arguments);
    const bool answered =
        reply.type() == QDBusMessage::ReplyMessage ||
        (reply.type() == QDBusMessage::ErrorMessage && !reply.errorName().contains("NoReply") &&
         !reply.errorName().contains("Timeout"));
    while (QWidget* popup = QApplication::activePopupWidget()) {
        popup->close();  // a context menu asked for
    }
    if (!answered || call("/MenuBar", menu + "GetLayout", {0, -1, QStringList()}).type() !=
                         QDBusMessage::ReplyMessage) {
        __builtin_trap();
    }
    return 0;
}
