#include "panel/shelf_view.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

#include "panel/item_row.h"
#include "panel/search_filter.h"
#include "platform/ui/application.h"
#include "platform/ui/lazy_stack.h"
#include "platform/ui/views.h"

namespace brimlet {

namespace ui = platform::ui;

ShelfView::ShelfView(ClipStore& store, platform::MainExecutor& executor, QWidget* parent)
    : QWidget(parent), store_(store), executor_(executor) {
    setFixedSize(kWidth, kHeight);

    QBoxLayout* stack =
        ui::vStack(this, kSpacing, QMargins(kPadding, kPadding, kPadding, kPadding));

    search_ = ui::textField(tr("Search"), [this](const QString& text) {
        query_ = text;
        rebuild();
    });
    search_->setObjectName(QStringLiteral("search"));
    search_->setAccessibleName(tr("Search"));
    stack->addWidget(search_);

    message_ = ui::label(QString(), ui::secondaryColor());
    message_->setObjectName(QStringLiteral("message"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(message_, 1);

    list_ = new ui::LazyStack(kRowSpacing);
    list_->setObjectName(QStringLiteral("list"));
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    stack->addWidget(list_, 1);

    stack->addWidget(ui::divider());

    QBoxLayout* footer = ui::hStack();
    clearAll_ = ui::pushButton(tr("Clear all"), [this] { store_.setItems({}); });
    clearAll_->setObjectName(QStringLiteral("clearAll"));
    footer->addWidget(clearAll_, 0, Qt::AlignVCenter);
    ui::addSpacer(footer);
    count_ = ui::label(QString(), ui::secondaryColor());
    count_->setObjectName(QStringLiteral("count"));
    count_->setFont(ui::captionFont());
    footer->addWidget(count_, 0, Qt::AlignVCenter);
    ui::addSpacer(footer);
    QPushButton* quit = ui::pushButton(
        tr("Quit"), [] { ui::Application::quit(); }, QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setObjectName(QStringLiteral("quit"));
    footer->addWidget(quit, 0, Qt::AlignVCenter);
    stack->addLayout(footer);

    setFocusProxy(search_);
    subscription_ = store_.objectWillChange().subscribe([this] { storeWillChange(); });
    rebuild();
}

std::vector<ClipItem> ShelfView::filtered() const {
    const QByteArray query = query_.toUtf8();
    return filterItems(store_.items(), std::string_view(query.constData(), query.size()));
}

void ShelfView::storeWillChange() {
    // Told before each step of a change; the state to show exists only once
    // the whole burst is done.
    if (rebuildQueued_) {
        return;
    }
    rebuildQueued_ = true;
    executor_.post([view = QPointer<ShelfView>(this)] {
        if (view != nullptr) {
            view->rebuildQueued_ = false;
            view->rebuild();
        }
    });
}

void ShelfView::rebuild() {
    const std::vector<ClipItem>& items = store_.items();
    const std::vector<ClipItem> shown = filtered();

    if (shown.empty()) {
        message_->setText(items.empty() ? tr("Nothing copied yet") : tr("No matches"));
        list_->setRows({});
        list_->hide();
        message_->show();
    } else {
        std::vector<ui::LazyStack::Row> rows;
        rows.reserve(shown.size());
        for (const ClipItem& item : shown) {
            const auto& id = item.id.bytes();
            rows.push_back({QByteArray(reinterpret_cast<const char*>(id.data()),
                                       static_cast<qsizetype>(id.size())),
                            [this, item] {
                                return new ItemRow(
                                    item, [store = &store_, item] { store->copyBack(item); });
                            }});
        }
        message_->hide();
        list_->show();
        list_->setRows(std::move(rows));
    }

    clearAll_->setEnabled(!items.empty());
    count_->setText(tr("%1/%2").arg(items.size()).arg(kHistoryCapacity));
}

}  // namespace brimlet
