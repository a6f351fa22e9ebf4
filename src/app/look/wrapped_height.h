#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QPair>
#include <QString>
#include <climits>
#include <vector>

namespace taskbell::app::look {

// The height of plain text wrapped at word boundaries, exactly as QFontMetrics::boundingRect(…,
// Qt::TextWordWrap, …) gives it, without laying the text out where character widths settle the answer:
// a text plainly narrower than the width is one line, and one plainly longer than a height limit allows
// is cut at the limit. Anything else (several lines, scripts outside Latin and common punctuation, glyphs
// from another font) is laid out. The answers for a font are learnt once per character.
class WrappedHeight
{
public:
    explicit WrappedHeight(const QFont& font);

    const QFont& font() const { return font_; }
    // The height of one line of text in the font.
    int lineHeight() const { return lineHeight_; }
    // The height of `text` wrapped at `width` pixels, at most `limit`.
    int operator()(const QString& text, int width, int limit = INT_MAX);
    // One measure per font, shared by the GUI thread's widgets.
    static WrappedHeight& shared(const QFont& font);

private:
    struct Widths
    {
        bool known = true;      // every character is in the table and in the font
        bool breaks = false;    // holds a line break or another control character
        double total = 0;       // the sum of the character advances
        double spaces = 0;      // of which white space, where lines may break
        double longestWord = 0; // the widest run without white space
    };

    Widths widthsOf(const QString& text);
    double advance(char16_t unit);
    int laidOut(const QString& text, int width) const;
    int linesReaching(int limit);

    QFont font_;
    QFontMetrics metrics_;
    int lineHeight_;
    int oneLine_;
    std::vector<float> advances_; // by table slot; negative: not learnt yet, NaN: not in the font
    int limit_ = -1;              // the limit `limitLines_` was worked out for
    int limitLines_ = 0;
    QHash<QPair<QString, int>, int> laidOutHeights_; // texts laid out, by text and width
};

} // namespace taskbell::app::look
