#include "platform/ui/verbatim_text.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>

namespace brimlet::platform::ui {
namespace {

// Two lines hold some hundreds of characters; start well above that and grow
// only for texts full of invisible characters. Never read more than the cap,
// so a text of many megabytes costs no more than a short one.
constexpr std::size_t kFirstPrefixBytes = 4096;
constexpr std::size_t kMaxPrefixBytes = std::size_t{256} * 1024;

constexpr QChar kLineBreak = QChar::LineSeparator;
constexpr QChar kEllipsis = QChar(0x2026);
// Each shown line is a bidi isolate, so that overrides inside the text end
// with it and the ellipsis stays at the line's end.
constexpr QChar kIsolateStart = QChar(0x2068);  // FIRST STRONG ISOLATE
constexpr QChar kIsolateEnd = QChar(0x2069);

bool isLineBreak(char16_t c) {
    return c == u'\n' || c == u'\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool isHiddenControl(char16_t c) {
    return (c < 0x20 && c != u'\t') || (c >= 0x7F && c <= 0x9F);
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
    QTextOption option(Qt::AlignLeading);
    option.setTextDirection(direction);
    option.setWrapMode(wrap);
    return option;
}

// Elision ends in U+2026, or in three dots where the font lacks it.
QString withoutEllipsis(QString elided, const QString& original) {
    if (elided == original) {
        return elided;
    }
    if (elided.endsWith(kEllipsis)) {
        elided.chop(1);
    } else if (elided.endsWith(QStringLiteral("..."))) {
        elided.chop(3);
    }
    return elided;
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
        } else if (!isHiddenControl(c)) {
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
    const QFontMetricsF metrics(font());
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
        layout.setText(shown);
        layout.setFont(font());
        layout.setTextOption(
            lineOption(layoutDirection(), QTextOption::WrapAtWordBoundaryOrAnywhere));
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
        // The last line runs on to its paragraph's end, elided to fit.
        const qsizetype start = laidOut.empty() ? 0 : laidOut.back().textStart();
        qsizetype end = shown.indexOf(kLineBreak, start);
        if (end < 0) {
            end = shown.size();
        }
        const QString rest = shown.mid(start, end - start);
        Line& last = result.back();
        last.elided = true;
        last.text = rest;
        if (metrics.horizontalAdvance(rest + kEllipsis) > available) {
            // Qt's elision ends in its own ellipsis; ours follows the line.
            QString body = metrics.elidedText(rest, Qt::ElideRight, available);
            if (body == rest) {
                const qreal room = available - metrics.horizontalAdvance(kEllipsis);
                body = metrics.elidedText(rest, Qt::ElideRight, std::max<qreal>(room, 0));
            }
            last.text = withoutEllipsis(body, rest);
        }
    }
    return result;
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
    QPainter painter(this);
    // Stacked marks and tall fallback glyphs must not spill over neighbours.
    painter.setClipRect(rect());
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetricsF metrics(font());
    const int lineSpacing = fontMetrics().lineSpacing();
    const auto& shown = lines(width());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        QString text = kIsolateStart + shown[i].text + kIsolateEnd;
        if (shown[i].elided) {
            text += kEllipsis;
        }
        QTextLayout layout(text, font());
        layout.setTextOption(lineOption(layoutDirection(), QTextOption::NoWrap));
        layout.beginLayout();
        QTextLine line = layout.createLine();
        line.setLineWidth(width());
        layout.endLayout();
        // Every line sits on the font's own baseline grid, whatever fallback
        // fonts it needed.
        const qreal baseline = static_cast<qreal>(i) * lineSpacing + metrics.ascent();
        layout.draw(&painter, QPointF(0, baseline - line.ascent()));
    }
}

void VerbatimText::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::LayoutDirectionChange) {
        cachedWidth_ = -1;
        updateGeometry();
    }
    QWidget::changeEvent(event);
}

}  // namespace brimlet::platform::ui
