// A text shown exactly as held: no markup, no translation, at most a few
// lines, cut at the tail with an ellipsis. Safe for any clipboard content:
// characters that would be invisible or reorder the text show as visible
// marks instead (see displayPrefix). The text's first strong character sets
// its direction: a right-to-left text starts at the right edge and its
// ellipsis stands at its logical end, on the left.
#pragma once

#include <QPointer>
#include <QString>
#include <QTextLayout>
#include <QWidget>
#include <memory>
#include <vector>

#include "platform/core/text.h"

class QTimer;

namespace brimlet::platform::ui {

class VerbatimText final : public QWidget {
  public:
    struct Line {
        QString text;
        bool elided = false;  // an ellipsis follows `text`

        friend bool operator==(const Line&, const Line&) = default;
    };

    VerbatimText(Text text, int lineLimit, QWidget* parent = nullptr);

    // The lines shown at `width`: at least one, at most the line limit.
    [[nodiscard]] const std::vector<Line>& lines(int width) const;
    // The line at `index` as it is drawn, ellipsis included.
    [[nodiscard]] std::unique_ptr<QTextLayout> lineLayout(std::size_t index, int width) const;

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    [[nodiscard]] std::vector<Line> layOut(int width) const;

    Text text_;
    int lineLimit_;
    mutable Qt::LayoutDirection direction_ = Qt::LeftToRight;
    mutable int cachedWidth_ = -1;
    mutable std::vector<Line> cachedLines_;
};

// A text's beginning in a tooltip beside a widget, once the pointer or the
// keyboard has rested on it for a moment: up to 20 lines of it, shown by the
// rules above. Nothing is made until it shows, and it reads only a prefix of
// the text however long that is.
class TextPreview final {
  public:
    static constexpr int kDelayMs = 700;
    static constexpr int kLineLimit = 20;

    TextPreview();
    ~TextPreview();
    TextPreview(const TextPreview&) = delete;
    TextPreview& operator=(const TextPreview&) = delete;

    // Rests on `anchor`, previewing `text`, from now on: the tooltip shows
    // after the delay, counted again at each call until it shows. Null: on
    // nothing, and any tooltip goes.
    void restOn(QWidget* anchor, const Text& text);
    // The shown tooltip, or null.
    [[nodiscard]] QWidget* shown() const;

  private:
    void show();

    std::unique_ptr<QTimer> timer_;
    QPointer<QWidget> anchor_;
    Text text_;
    std::unique_ptr<QWidget> tip_;
};

// The text as it is shown: undecodable bytes as U+FFFD, every kind of line
// break as U+2028, tabs as they are, and no more than 16 combining marks on
// one letter. Other control characters, and bidi embeddings, overrides and
// isolates, show as their abbreviations in angle quotes ("‹ESC›", "‹DEL›",
// "‹CSI›", "‹RLO›"), each a left-to-right isolate that reorders nothing. Only
// the first `maxBytes` bytes are read, cut between clusters where possible.
// `complete` tells whether that was the whole text.
[[nodiscard]] QString displayPrefix(std::string_view utf8, std::size_t maxBytes, bool& complete);

// The text for assistive technology: at most `maxBytes` of it, shown as
// above with line feeds for line breaks, and an ellipsis where it was cut.
[[nodiscard]] QString readableText(std::string_view utf8, std::size_t maxBytes);

}  // namespace brimlet::platform::ui
