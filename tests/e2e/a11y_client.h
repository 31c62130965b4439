// Reads a running program's widgets the way a screen reader does, over the
// accessibility bus (AT-SPI), so end-to-end tests see what a person sees.
#pragma once

#include <QDBusConnection>
#include <QRect>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace brimlet::e2e {

struct A11yNode {
    QString role;  // e.g. "push button", "label", "text"
    QString name;
    QString text;   // the content of editable texts
    QRect extents;  // in screen coordinates
    bool enabled = true;
    bool focused = false;
    bool showing = true;
    std::vector<A11yNode> children;

    // Depth-first search.
    [[nodiscard]] const A11yNode* find(const QString& role, const QString& name) const;
    [[nodiscard]] std::vector<const A11yNode*> findAll(const QString& role) const;
    // An indented outline, for failure messages.
    [[nodiscard]] std::string describe(int depth = 0) const;
};

class A11yClient {
  public:
    // Connects through the session bus's pointer to the accessibility bus.
    explicit A11yClient(const QString& sessionBusAddress);
    ~A11yClient();
    A11yClient(const A11yClient&) = delete;
    A11yClient& operator=(const A11yClient&) = delete;

    // The tree of the application called `appName`, if it is registered.
    [[nodiscard]] std::optional<A11yNode> application(const QString& appName) const;

  private:
    QDBusConnection bus_;
};

}  // namespace brimlet::e2e
