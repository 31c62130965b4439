#include "platform/qt/qt_pasteboard.h"

#include <QClipboard>
#include <QMimeData>

namespace brimlet::platform {

QtPasteboard::QtPasteboard(QClipboard* clipboard, QObject* parent)
    : QObject(parent), clipboard_(clipboard) {
    connect(clipboard, &QClipboard::changed, this, [this](QClipboard::Mode mode) {
        if (mode == QClipboard::Clipboard) {
            clipboardChanged();
        }
    });
}

void QtPasteboard::clipboardChanged() {
    if (!writing_) {
        ++changeCount_;
    }
}

std::optional<Text> QtPasteboard::string() const {
    if (clipboard_ == nullptr) {
        return std::nullopt;
    }
    const QMimeData* data = clipboard_->mimeData(QClipboard::Clipboard);
    // Password managers offer this hint; whatever its value, a password never
    // enters the history.
    if (data == nullptr || !data->hasText() ||
        data->hasFormat(QStringLiteral("x-kde-passwordManagerHint"))) {
        return std::nullopt;
    }
    const QByteArray utf8 = data->text().toUtf8();
    return Text(std::string(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

std::int64_t QtPasteboard::clearContents() {
    if (clipboard_ != nullptr) {
        writing_ = true;
        clipboard_->clear(QClipboard::Clipboard);
        writing_ = false;
    }
    return ++changeCount_;
}

bool QtPasteboard::setString(const Text& text) {
    ++changeCount_;
    if (clipboard_ == nullptr) {
        return false;
    }
    const std::string_view bytes = text.bytes();
    writing_ = true;
    clipboard_->setText(QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size())),
                        QClipboard::Clipboard);
    writing_ = false;
    return true;
}

}  // namespace brimlet::platform
