#include "app/look/wrapped_height.h"

#include <QFontMetricsF>
#include <cmath>
#include <memory>

namespace taskbell::app::look {

namespace {

// The characters whose widths are learnt: Latin (up to Latin Extended-B) and general punctuation (dashes,
// quotes, ellipsis). They render without shaping that changes widths, apart from kerning.
constexpr char16_t kLatinEnd = 0x250;
constexpr char16_t kPunctuationBegin = 0x2000;
constexpr char16_t kPunctuationEnd = 0x2070;

// Kerning and ligatures make a laid-out line differ a little from the sum of its characters: the fast
// answers hold only with this margin.
constexpr double kSlack = 0.03;
constexpr double kSlackPixels = 2;

int slotOf(char16_t unit)
{
    if (unit < kLatinEnd) {
        return unit;
    }
    if (unit >= kPunctuationBegin && unit < kPunctuationEnd) {
        return kLatinEnd + (unit - kPunctuationBegin);
    }
    return -1;
}

} // namespace

WrappedHeight::WrappedHeight(const QFont& font)
    : font_(font), metrics_(font), lineHeight_(metrics_.height()), oneLine_(laidOut(QStringLiteral("x"), 1000)),
      advances_(kLatinEnd + (kPunctuationEnd - kPunctuationBegin), -1.0F)
{
}

int WrappedHeight::laidOut(const QString& text, int width) const
{
    return metrics_.boundingRect(QRect(0, 0, std::max(width, 1), 1 << 20), Qt::TextWordWrap, text).height();
}

double WrappedHeight::advance(char16_t unit)
{
    int slot = slotOf(unit);
    if (slot < 0) {
        return NAN;
    }
    float& width = advances_[slot];
    if (width < 0) {
        QFontMetricsF metrics(font_);
        width = metrics.inFont(QChar(unit)) ? float(metrics.horizontalAdvance(QChar(unit))) : NAN;
    }
    return width;
}

WrappedHeight::Widths WrappedHeight::widthsOf(const QString& text)
{
    Widths widths;
    double word = 0;
    for (QChar c : text) {
        char16_t unit = c.unicode();
        if (unit < 0x20 || unit == 0x7F || unit == 0x2028 || unit == 0x2029) {
            widths.breaks = true;
            word = 0;
            continue;
        }
        double width = advance(unit);
        if (std::isnan(width)) {
            widths.known = false;
            return widths;
        }
        widths.total += width;
        if (c.isSpace()) {
            widths.spaces += width;
            word = 0;
        } else {
            word += width;
            widths.longestWord = std::max(widths.longestWord, word);
        }
    }
    return widths;
}

// The fewest lines whose height reaches `limit`.
int WrappedHeight::linesReaching(int limit)
{
    if (limit != limit_) {
        limit_ = limit;
        limitLines_ = 0;
        QString lines = QStringLiteral("x");
        for (int count = 1; count <= 64; ++count, lines += QStringLiteral("\nx")) {
            if (laidOut(lines, 1000) >= limit) {
                limitLines_ = count;
                break;
            }
        }
    }
    return limitLines_;
}

int WrappedHeight::operator()(const QString& text, int width, int limit)
{
    Widths widths = widthsOf(text);
    if (widths.known && !widths.breaks && !text.isEmpty() && widths.total * (1 + kSlack) + kSlackPixels <= width) {
        return std::min(oneLine_, limit);
    }
    // When every word fits on a line, no line holds more than `width` of the words' widths, so the text
    // needs at least that many lines; more than the limit allows means the answer is the limit.
    if (widths.known && limit != INT_MAX && width > 0 && widths.longestWord * (1 + kSlack) + kSlackPixels <= width) {
        int lines = linesReaching(limit);
        double words = (widths.total - widths.spaces) * (1 - kSlack);
        if (lines > 0 && words / width > lines - 1) {
            return limit;
        }
    }
    // A row asks again for its own text when it is placed: what was laid out is kept for a while.
    constexpr qsizetype kKeptLayouts = 4096;
    auto kept = laidOutHeights_.constFind({text, width});
    if (kept == laidOutHeights_.constEnd()) {
        if (laidOutHeights_.size() >= kKeptLayouts) {
            laidOutHeights_.clear();
        }
        kept = laidOutHeights_.insert({text, width}, laidOut(text, width));
    }
    return std::min(*kept, limit);
}

WrappedHeight& WrappedHeight::shared(const QFont& font)
{
    static std::vector<std::unique_ptr<WrappedHeight>> measures;
    for (const auto& measure : measures) {
        if (measure->font() == font) {
            return *measure;
        }
    }
    constexpr std::size_t kFonts = 16;
    if (measures.size() >= kFonts) {
        measures.erase(measures.begin());
    }
    return *measures.emplace_back(std::make_unique<WrappedHeight>(font));
}

} // namespace taskbell::app::look
