#include "platform/ui/verbatim_text.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmapCache>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <array>
#include <optional>

namespace brimlet::platform::ui {
namespace {

// Two lines hold some hundreds of characters; start well above that and grow
// only for texts full of invisible characters. Never read more than the cap,
// so a text of many megabytes costs no more than a short one.
constexpr std::size_t kFirstPrefixBytes = 4096;
constexpr std::size_t kMaxPrefixBytes = std::size_t{256} * 1024;

constexpr QChar kLineBreak = QChar::LineSeparator;
constexpr QChar kEllipsis = QChar(0x2026);
// A visible mark is a left-to-right isolate of its own: it reads the same in
// any text around it and leaves that text's order alone.
constexpr QChar kMarkStart = QChar(0x2066);  // LEFT-TO-RIGHT ISOLATE
constexpr QChar kMarkEnd = QChar(0x2069);    // POP DIRECTIONAL ISOLATE
// Single angle quotation marks, which nearly every font draws.
constexpr QChar kMarkOpen = QChar(0x2039);
constexpr QChar kMarkClose = QChar(0x203A);

bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

// Controls by their ISO 6429 abbreviations, C0 then C1. Unicode's Control
// Pictures would be shorter, but few fonts draw them, and a missing glyph's
// box would tell nothing.
constexpr std::array<const char*, 64> kControlNames = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",  "VT",  "FF",
    "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK", "SYN", "ETB", "CAN", "EM",
    "SUB", "ESC", "FS",  "GS",  "RS",  "US",  "PAD", "HOP", "BPH", "NBH", "IND", "NEL", "SSA",
    "ESA", "HTS", "HTJ", "VTS", "PLD", "PLU", "RI",  "SS2", "SS3", "DCS", "PU1", "PU2", "STS",
    "CCH", "MW",  "SPA", "EPA", "SOS", "SGC", "SCI", "CSI", "ST",  "OSC", "PM",  "APC"};

// Embeddings, overrides and isolates would reorder what follows them.
const char* bidiControlName(char16_t c) {
    switch (c) {
        case 0x202A:
            return "LRE";
        case 0x202B:
            return "RLE";
        case 0x202C:
            return "PDF";
        case 0x202D:
            return "LRO";
        case 0x202E:
            return "RLO";
        case 0x2066:
            return "LRI";
        case 0x2067:
            return "RLI";
        case 0x2068:
            return "FSI";
        case 0x2069:
            return "PDI";
        default:
            return nullptr;
    }
}

// What stands in the row for a character that would otherwise be invisible
// or act on the text around it; empty for any other character, tab included.
QString visibleForm(char16_t c) {
    const char* name = c == u'\t'               ? nullptr
                       : c < 0x20               ? kControlNames[c]
                       : c == 0x7F              ? "DEL"
                       : c >= 0x80 && c <= 0x9F ? kControlNames[c - 0x80 + 0x20]
                                                : bidiControlName(c);
    if (name == nullptr) {
        return {};
    }
    return QString(kMarkStart) + kMarkOpen + QLatin1String(name) + kMarkClose + kMarkEnd;
}

// The direction of the first strong character outside the visible marks.
std::optional<Qt::LayoutDirection> firstStrongDirection(const QString& shown) {
    bool inMark = false;
    for (const QChar c : shown) {
        if (c == kMarkStart || c == kMarkEnd) {
            inMark = c == kMarkStart;
        } else if (!inMark) {
            switch (c.direction()) {
                case QChar::DirL:
                    return Qt::LeftToRight;
                case QChar::DirR:
                case QChar::DirAL:
                    return Qt::RightToLeft;
                default:
                    break;
            }
        }
    }
    return std::nullopt;
}

bool isMark(char32_t c) {
    switch (QChar::category(c)) {
        case QChar::Mark_NonSpacing:
        case QChar::Mark_SpacingCombining:
        case QChar::Mark_Enclosing:
            return true;
        default:
            return false;
    }
}

// No script stacks more marks on one letter than this; beyond it they would
// be clipped anyway, and shaping thousands of them stalls the panel.
constexpr int kMaxMarksPerCluster = 16;

QTextOption lineOption(Qt::LayoutDirection direction, QTextOption::WrapMode wrap) {
    QTextOption option;
    option.setTextDirection(direction);
    option.setWrapMode(wrap);
    return option;
}

// One line of `text`, not wrapped, against the start side of `width`: the
// right one for a right-to-left line, whose trailing blanks go to its left.
void layOutLine(QTextLayout& layout, Qt::LayoutDirection direction, qreal width) {
    layout.setTextOption(lineOption(direction, QTextOption::NoWrap));
    layout.beginLayout();
    QTextLine line = layout.createLine();
    layout.endLayout();
    if (direction == Qt::RightToLeft) {
        line.setPosition(QPointF(width - line.naturalTextWidth(), 0));
    }
}

qreal naturalWidth(const QString& text, const QFont& font, Qt::LayoutDirection direction) {
    QTextLayout layout(text, font);
    layOutLine(layout, direction, 0);
    return layout.lineAt(0).naturalTextWidth();
}

// The longest beginning of `text` that fits `width` with an ellipsis after
// it, measured as laid out in `direction`: the cut is at the logical end,
// wherever that ends up on the screen.
QString beginningBeforeEllipsis(const QString& text, const QFont& font,
                                Qt::LayoutDirection direction, qreal width) {
    const qreal room = width - naturalWidth(kEllipsis, font, direction);
    QTextLayout layout(text, font);
    layout.setTextOption(lineOption(direction, QTextOption::WrapAnywhere));
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(std::max<qreal>(room, 0));
    layout.endLayout();
    qsizetype length = line.textLength();
    // Shaping across the cut can widen it a little: give back clusters.
    QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, text);
    while (length > 0 && naturalWidth(text.left(length) + kEllipsis, font, direction) > width) {
        clusters.setPosition(length);
        length = std::max<qsizetype>(clusters.toPreviousBoundary(), 0);
    }
    return text.left(length);
}

}  // namespace

QString displayPrefix(std::string_view utf8, std::size_t maxBytes, bool& complete) {
    std::size_t cut = utf8.size();
    complete = cut <= maxBytes;
    QString decoded;
    if (complete) {
        decoded = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(cut));
    } else {
        // Back up to the start of the sequence the cut falls into.
        cut = maxBytes;
        for (int back = 0; back < 3 && cut > 0; ++back) {
            if ((static_cast<unsigned char>(utf8[cut]) & 0xC0) != 0x80) {
                break;
            }
            --cut;
        }
        decoded = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(cut));
        // Keep whole clusters: a look at what follows tells whether the last
        // one goes on beyond the cut.
        const std::size_t ahead = std::min<std::size_t>(utf8.size() - cut, 32);
        const QString joined =
            decoded + QString::fromUtf8(utf8.data() + cut, static_cast<qsizetype>(ahead));
        QTextBoundaryFinder clusters(QTextBoundaryFinder::Grapheme, joined);
        clusters.setPosition(decoded.size());
        if (!clusters.isAtBoundary()) {
            const qsizetype boundary = clusters.toPreviousBoundary();
            if (boundary > 0) {
                decoded.truncate(boundary);
            }
        }
    }

    QString shown;
    shown.reserve(decoded.size());
    int marks = 0;
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const char16_t c = decoded[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < decoded.size() &&
            QChar::isLowSurrogate(decoded[i + 1].unicode())) {
            const char32_t code = QChar::surrogateToUcs4(c, decoded[i + 1].unicode());
            marks = isMark(code) ? marks + 1 : 0;
            if (marks <= kMaxMarksPerCluster) {
                shown.append(decoded[i]);
                shown.append(decoded[i + 1]);
            }
            ++i;
        } else if (isLineBreak(c)) {
            if (c == u'\r' && i + 1 < decoded.size() && decoded[i + 1] == u'\n') {
                ++i;
            }
            shown.append(kLineBreak);
            marks = 0;
        } else if (const QString visible = visibleForm(c); !visible.isEmpty()) {
            shown.append(visible);
            marks = 0;
        } else {
            marks = isMark(c) ? marks + 1 : 0;
            if (marks <= kMaxMarksPerCluster) {
                shown.append(QChar(c));
            }
        }
    }
    return shown;
}

QString readableText(std::string_view utf8, std::size_t maxBytes) {
    bool complete = false;
    QString text = displayPrefix(utf8, maxBytes, complete);
    text.replace(kLineBreak, QChar(u'\n'));
    if (!complete) {
        text.append(kEllipsis);
    }
    return text;
}

VerbatimText::VerbatimText(Text text, int lineLimit, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), lineLimit_(std::max(1, lineLimit)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

const std::vector<VerbatimText::Line>& VerbatimText::lines(int width) const {
    if (width != cachedWidth_) {
        cachedLines_ = layOut(width);
        cachedWidth_ = width;
    }
    return cachedLines_;
}

std::vector<VerbatimText::Line> VerbatimText::layOut(int width) const {
    const auto available = static_cast<qreal>(std::max(width, 1));
    const int wanted = lineLimit_ + 1;  // one more tells whether anything is cut

    std::size_t prefixBytes = kFirstPrefixBytes;
    QString shown;
    QTextLayout layout;
    std::vector<QTextLine> laidOut;
    bool more = false;
    for (;;) {
        bool complete = false;
        shown = displayPrefix(text_.bytes(), prefixBytes, complete);
        direction_ = firstStrongDirection(shown).value_or(layoutDirection());
        layout.setText(shown);
        layout.setFont(font());
        layout.setTextOption(lineOption(direction_, QTextOption::WrapAtWordBoundaryOrAnywhere));
        laidOut.clear();
        layout.beginLayout();
        while (static_cast<int>(laidOut.size()) < wanted) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) {
                break;
            }
            line.setLineWidth(available);
            laidOut.push_back(line);
        }
        layout.endLayout();
        // The shown lines are final once a further line has begun: the breaks
        // before it cannot depend on text beyond the prefix.
        if (static_cast<int>(laidOut.size()) == wanted) {
            laidOut.pop_back();
            more = true;
            break;
        }
        if (complete) {
            break;
        }
        if (prefixBytes >= kMaxPrefixBytes) {
            // Mostly invisible characters so far: show what there is, cut.
            more = true;
            break;
        }
        prefixBytes *= 8;
    }

    std::vector<Line> result;
    for (const QTextLine& line : laidOut) {
        QString text = shown.mid(line.textStart(), line.textLength());
        if (text.endsWith(kLineBreak)) {
            text.chop(1);
        }
        result.push_back({text, false});
    }
    if (result.empty()) {
        result.push_back({});
    }
    if (more) {
        // The last line runs on to its paragraph's end, cut to fit.
        const qsizetype start = laidOut.empty() ? 0 : laidOut.back().textStart();
        qsizetype end = shown.indexOf(kLineBreak, start);
        if (end < 0) {
            end = shown.size();
        }
        const QString rest = shown.mid(start, end - start);
        Line& last = result.back();
        last.elided = true;
        last.text = naturalWidth(rest + kEllipsis, font(), direction_) > available
                        ? beginningBeforeEllipsis(rest, font(), direction_, available)
                        : rest;
    }
    return result;
}

std::unique_ptr<QTextLayout> VerbatimText::lineLayout(std::size_t index, int width) const {
    const Line& shown = lines(width).at(index);
    auto layout =
        std::make_unique<QTextLayout>(shown.elided ? shown.text + kEllipsis : shown.text, font());
    layOutLine(*layout, direction_, width);
    return layout;
}

int VerbatimText::heightForWidth(int width) const {
    return static_cast<int>(lines(width).size()) * fontMetrics().lineSpacing();
}

QSize VerbatimText::sizeHint() const {
    return {fontMetrics().averageCharWidth() * 20, heightForWidth(width())};
}

QSize VerbatimText::minimumSizeHint() const {
    return {0, fontMetrics().lineSpacing()};
}

void VerbatimText::paintEvent(QPaintEvent* /*event*/) {
    // Colour glyphs are decoded anew each time Qt draws them, and a
    // keystroke brings rows back that were just drawn: what a row shows is
    // kept as a picture, found again by exactly what it shows and how.
    const qreal ratio = devicePixelRatioF();
    const QColor pen = palette().color(QPalette::WindowText);
    const std::vector<Line>& shown = lines(width());
    QString key = QStringLiteral("brimlet-text:%1:%2:%3:%4:%5")
                      .arg(width())
                      .arg(height())
                      .arg(ratio)
                      .arg(pen.rgba())
                      .arg(font().key());
    key += QChar(direction_ == Qt::RightToLeft ? 'r' : 'l');
    for (const Line& line : shown) {
        key += QChar(line.elided ? 'e' : 'n') + line.text + QChar(0);
    }
    QPixmap picture;
    if (!QPixmapCache::find(key, &picture)) {
        picture = QPixmap(size() * ratio);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::transparent);
        QPainter painter(&picture);
        // Stacked marks and tall fallback glyphs must not spill over neighbours.
        painter.setClipRect(rect());
        painter.setPen(pen);
        const qreal ascent = QFontMetricsF(font()).ascent();
        const int lineSpacing = fontMetrics().lineSpacing();
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const auto layout = lineLayout(i, width());
            // Every line sits on the font's own baseline grid, whatever
            // fallback fonts it needed.
            const qreal baseline = static_cast<qreal>(i) * lineSpacing + ascent;
            layout->draw(&painter, QPointF(0, baseline - layout->lineAt(0).ascent()));
        }
        painter.end();
        QPixmapCache::insert(key, picture);
    }
    QPainter(this).drawPixmap(0, 0, picture);
}

TextPreview::TextPreview() : timer_(std::make_unique<QTimer>()) {
    timer_->setSingleShot(true);
    QObject::connect(timer_.get(), &QTimer::timeout, [this] { show(); });
}

TextPreview::~TextPreview() = default;

void TextPreview::restOn(QWidget* anchor, const Text& text) {
    if (anchor != nullptr && anchor == anchor_ && shown() != nullptr) {
        return;
    }
    tip_.reset();
    anchor_ = anchor;
    text_ = anchor != nullptr ? text : Text();
    if (anchor != nullptr) {
        timer_->start(kDelayMs);
    } else {
        timer_->stop();
    }
}

QWidget* TextPreview::shown() const {
    return tip_ != nullptr && tip_->isVisible() ? tip_.get() : nullptr;
}

void TextPreview::show() {
    if (anchor_ == nullptr || !anchor_->isVisible()) {
        return;
    }
    constexpr int kMargin = 6;
    // A window of the anchor's window's, as Wayland wants of a tooltip; gone
    // before it.
    tip_ = std::make_unique<QWidget>(anchor_->window(), Qt::ToolTip | Qt::FramelessWindowHint);
    tip_->setAttribute(Qt::WA_ShowWithoutActivating);
    tip_->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette palette = tip_->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::ToolTipText));
    tip_->setPalette(palette);
    tip_->setAutoFillBackground(true);
    auto* text = new VerbatimText(text_, kLineLimit, tip_.get());
    text->setObjectName(QStringLiteral("preview"));
    text->setLayoutDirection(anchor_->layoutDirection());
    const int width = anchor_->width();
    const int inner = width - 2 * kMargin;
    text->setGeometry(kMargin, kMargin, inner, text->heightForWidth(inner));
    QRect where(anchor_->mapToGlobal(QPoint(0, anchor_->height())),
                QSize(width, text->height() + 2 * kMargin));
    // Below the anchor, or above it where the screen ends, and on the screen.
    if (const QScreen* screen = anchor_->screen()) {
        const QRect room = screen->availableGeometry();
        if (where.bottom() > room.bottom()) {
            where.moveBottom(anchor_->mapToGlobal(QPoint(0, 0)).y() - 1);
        }
        where.moveTop(std::max(where.top(), room.top()));
    }
    tip_->setGeometry(where);
    tip_->show();
}

void VerbatimText::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange) {
        cachedWidth_ = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

}  // namespace brimlet::platform::ui
