#include "platform/ui/accessibility.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QApplication>
#include <QWidget>

namespace brimlet::platform::ui {
namespace {

// Qt lists only ordinary top-level windows under the application, leaving
// popups out; our whole interface lives in one.
class ApplicationWithPopups final : public QAccessibleApplication {
  public:
    [[nodiscard]] int childCount() const override {
        return QAccessibleApplication::childCount() + static_cast<int>(popups().size());
    }

    [[nodiscard]] QAccessibleInterface* child(int index) const override {
        const int windows = QAccessibleApplication::childCount();
        if (index < windows) {
            return QAccessibleApplication::child(index);
        }
        const auto list = popups();
        const auto popup = static_cast<qsizetype>(index - windows);
        return popup < list.size() ? QAccessible::queryAccessibleInterface(list[popup]) : nullptr;
    }

    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override {
        const int index = QAccessibleApplication::indexOfChild(child);
        if (index >= 0 || child == nullptr) {
            return index;
        }
        const auto popup = popups().indexOf(qobject_cast<QWidget*>(child->object()));
        return popup < 0 ? -1 : QAccessibleApplication::childCount() + static_cast<int>(popup);
    }

  private:
    static QList<QWidget*> popups() {
        QList<QWidget*> out;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->windowType() == Qt::Popup && widget->isVisible()) {
                out.append(widget);
            }
        }
        return out;
    }
};

QAccessibleInterface* applicationInterface(const QString& /*className*/, QObject* object) {
    if (object != nullptr && object == QCoreApplication::instance()) {
        return new ApplicationWithPopups();
    }
    return nullptr;
}

}  // namespace

void exposePopupsToAssistiveTechnology() {
    QAccessible::installFactory(applicationInterface);
}

}  // namespace brimlet::platform::ui
