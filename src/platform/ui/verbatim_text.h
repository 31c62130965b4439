// A text shown exactly as held: no markup, no translation, at most a few
// lines, cut at the tail with an ellipsis. Safe for any clipboard content.
#pragma once

#include <QString>
#include <QWidget>
#include <vector>

#include "platform/core/text.h"

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
    mutable int cachedWidth_ = -1;
    mutable std::vector<Line> cachedLines_;
};

// The text as it is shown: undecodable bytes as U+FFFD, every kind of line
// break as U+2028, other control characters (NUL included) left out, and no
// more than 16 combining marks on one letter. Only the first `maxBytes` bytes
// are read, cut between clusters where possible. `complete` tells whether
// that was the whole text.
[[nodiscard]] QString displayPrefix(std::string_view utf8, std::size_t maxBytes, bool& complete);

// The text for assistive technology: at most `maxBytes` of it, undecodable
// bytes as U+FFFD, without control characters other than tab and line feed,
// and an ellipsis where it was cut.
[[nodiscard]] QString readableText(std::string_view utf8, std::size_t maxBytes);

}  // namespace brimlet::platform::ui
