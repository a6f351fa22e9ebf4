#include "core/jira/adf.h"

#include <algorithm>
#include <array>
#include <vector>

#include "core/base/text_util.h"
#include "core/jira/models.h"

namespace taskbell::ADF {
namespace {

// A line starting with one of these (tested in this order) is a list item.
constexpr std::array<std::string_view, 3> kBulletPrefixes = {"- ", "* ", "\u2022 "};

// Node types after whose content the flattener ends the line.
constexpr std::array<std::string_view, 6> kBlockTypes = {"paragraph",  "heading",   "codeBlock",
                                                         "blockquote", "tableCell", "tableRow"};

// Length of the line break starting at text[i], 0 when there is none. CR LF counts as one break.
std::size_t lineBreakLength(std::string_view text, std::size_t i)
{
    auto byteAt = [&](std::size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0; };
    switch (byteAt(i)) {
    case '\n':
    case '\v':
    case '\f':
        return 1;
    case '\r':
        return byteAt(i + 1) == '\n' ? 2 : 1;
    case 0xC2: // U+0085 next line
        return byteAt(i + 1) == 0x85 ? 2 : 0;
    case 0xE2: // U+2028 line separator, U+2029 paragraph separator
        return byteAt(i + 1) == 0x80 && (byteAt(i + 2) == 0xA8 || byteAt(i + 2) == 0xA9) ? 3 : 0;
    default:
        return 0;
    }
}

// Calls visit for each line, without collecting them: a long text would cost a view per line.
template <typename Visit> void forEachLine(std::string_view text, Visit visit)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        if (std::size_t length = lineBreakLength(text, i)) {
            visit(text.substr(start, i - start));
            i += length;
            start = i;
        } else {
            ++i;
        }
    }
    visit(text.substr(start));
}

Json textNode(std::string_view text)
{
    return Json{{"type", "text"}, {"text", std::string(text)}};
}

// Collects blocks while the text is read line by line.
class DocumentBuilder
{
public:
    void addLine(std::string_view line)
    {
        std::string_view trimmed = trimBlanks(line);
        if (!trimmed.empty() && ++linesWithText_ > maxLines) {
            throw TooManyLines();
        }
        if (trimmed.empty()) {
            endParagraph();
            endList();
        } else if (auto item = bulletItem(trimmed)) {
            endParagraph();
            items_.push_back(std::move(*item));
        } else {
            endList();
            paragraph_.push_back(trimmed);
        }
    }

    std::optional<Json> finish()
    {
        endParagraph();
        endList();
        if (blocks_.empty()) {
            return std::nullopt;
        }
        return Json{{"type", "doc"}, {"version", 1}, {"content", std::move(blocks_)}};
    }

private:
    void endParagraph()
    {
        if (paragraph_.empty()) {
            return;
        }
        Json content = Json::array();
        for (std::size_t i = 0; i < paragraph_.size(); ++i) {
            if (i > 0) {
                content.push_back(Json{{"type", "hardBreak"}});
            }
            content.push_back(textNode(paragraph_[i]));
        }
        blocks_.push_back(Json{{"type", "paragraph"}, {"content", std::move(content)}});
        paragraph_.clear();
    }

    void endList()
    {
        if (items_.empty()) {
            return;
        }
        Json content = Json::array();
        for (const std::string& item : items_) {
            Json paragraph{{"type", "paragraph"}, {"content", Json::array({textNode(item)})}};
            content.push_back(Json{{"type", "listItem"}, {"content", Json::array({std::move(paragraph)})}});
        }
        blocks_.push_back(Json{{"type", "bulletList"}, {"content", std::move(content)}});
        items_.clear();
    }

    Json blocks_ = Json::array();
    std::size_t linesWithText_ = 0;
    std::vector<std::string_view> paragraph_;
    std::vector<std::string> items_;
};

bool isBlockType(std::string_view type)
{
    return std::find(kBlockTypes.begin(), kBlockTypes.end(), type) != kBlockTypes.end();
}

bool isMediaType(std::string_view type)
{
    return type == "media" || type == "mediaSingle" || type == "mediaGroup" || type == "mediaInline";
}

} // namespace

TooManyLines::TooManyLines()
    : std::runtime_error("The description is too long for Jira \u2014 it has more than 20,000 lines.")
{
}

std::optional<Json> documentFromPlainText(std::string_view text)
{
    DocumentBuilder builder;
    forEachLine(text, [&](std::string_view line) { builder.addLine(line); });
    return builder.finish();
}

std::optional<std::string> bulletItem(std::string_view line)
{
    std::string_view trimmed = trimBlanks(line);
    for (std::string_view prefix : kBulletPrefixes) {
        if (trimmed.starts_with(prefix)) {
            std::string_view rest = trimBlanks(trimmed.substr(prefix.size()));
            if (rest.empty()) {
                return std::nullopt;
            }
            return std::string(rest);
        }
    }
    return std::nullopt;
}

std::size_t attachmentNodeCount(const Json& description)
{
    // An explicit stack: the tree comes from outside and may nest deeply.
    std::size_t count = 0;
    std::vector<const Json*> pending{&description};
    while (!pending.empty()) {
        const Json& node = *pending.back();
        pending.pop_back();
        const Json* children = &node;
        if (node.is_object()) {
            auto type = node.find("type");
            if (type != node.end() && type->is_string() && isMediaType(type->get_ref<const std::string&>())) {
                ++count;
            }
            auto content = node.find("content");
            children = content != node.end() ? &*content : nullptr;
        }
        if (children && children->is_array()) {
            for (const Json& child : *children) {
                pending.push_back(&child);
            }
        }
    }
    return count;
}

namespace {

// Walks a description and collects its text as lines: blocks end lines, list items start with "• " and
// are indented two blanks per nesting level. One flattener serves one description.
class Flattener
{
public:
    void walk(const ADFNode& root);
    // Ends the current line (nothing is added when it is blank).
    void flush();
    const std::vector<std::string>& lines() const { return lines_; }

private:
    void enter(const ADFNode& node);
    void leave(const ADFNode& node);

    std::vector<std::string> lines_;
    std::string line_;
    int depth_ = 0;
    bool bulletPending_ = false;
};

void Flattener::walk(const ADFNode& root)
{
    // Iterative, so that a deep description cannot exhaust a worker thread's stack.
    struct Frame
    {
        const ADFNode* node;
        std::size_t next;
    };
    std::vector<Frame> stack;
    enter(root);
    stack.push_back({&root, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        const ADFNode& node = *top.node;
        if (node.content && top.next < node.content->size()) {
            const ADFNode& child = (*node.content)[top.next++];
            enter(child);
            stack.push_back({&child, 0});
        } else {
            leave(node);
            stack.pop_back();
        }
    }
}

void Flattener::enter(const ADFNode& node)
{
    if (!node.type) {
        return;
    }
    const std::string& type = *node.type;
    if (type == "listItem") {
        flush();
        ++depth_;
        bulletPending_ = true;
    } else if (type == "text") {
        if (node.text) {
            line_ += *node.text;
        }
    } else if (type == "hardBreak") {
        flush();
    }
}

void Flattener::leave(const ADFNode& node)
{
    if (!node.type) {
        return;
    }
    if (*node.type == "listItem") {
        flush();
        --depth_;
    } else if (isBlockType(*node.type)) {
        flush();
    }
}

void Flattener::flush()
{
    std::string text(trimBlanks(line_));
    line_.clear();
    if (text.empty()) {
        return;
    }
    if (depth_ == 0) {
        lines_.push_back(std::move(text));
        return;
    }
    std::string indented;
    for (int level = 1; level < depth_; ++level) {
        indented += "  ";
    }
    indented += bulletPending_ ? "\u2022 " : "  ";
    indented += text;
    bulletPending_ = false;
    lines_.push_back(std::move(indented));
}

} // namespace

std::optional<std::string> plainText(const ADFNode& root)
{
    Flattener flattener;
    flattener.walk(root);
    flattener.flush();
    std::string text;
    for (const std::string& line : flattener.lines()) {
        if (!text.empty()) {
            text += '\n';
        }
        text += line;
    }
    if (text.empty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace taskbell::ADF
