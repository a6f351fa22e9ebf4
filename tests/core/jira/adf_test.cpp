#include <gtest/gtest.h>

#include "adf_builder.h"
#include "core/jira/adf.h"
#include "core/jira/models.h"

using namespace taskbell;
using namespace taskbell::test::adf;

namespace {

// The plain text a description in JSON form flattens to.
std::optional<std::string> flatten(const Json& description)
{
    return ADF::plainText(decodeADFNode(description));
}

} // namespace

TEST(PlainTextToADF, ParagraphsListsAndTheLinesBetween)
{
    auto document = ADF::documentFromPlainText("Intro line\n\n- one\n* two\n\u2022 three\nAfter the list");
    ASSERT_TRUE(document);
    EXPECT_EQ(*document, doc({paragraph({text("Intro line")}), bulletList({"one", "two", "three"}),
                              paragraph({text("After the list")})}));
    EXPECT_EQ((*document)["version"], 1);
    EXPECT_TRUE((*document)["version"].is_number_integer());

    // Paragraph text after a list, then a list right after paragraph text: each closes the other.
    EXPECT_EQ(*ADF::documentFromPlainText("a\n- b\nc\n- d"),
              doc({paragraph({text("a")}), bulletList({"b"}), paragraph({text("c")}), bulletList({"d"})}));
    // A blank line ends a list as well; a second run of bullets is a second list.
    EXPECT_EQ(*ADF::documentFromPlainText("- a\n\n- b"), doc({bulletList({"a"}), bulletList({"b"})}));
}

TEST(PlainTextToADF, EveryKindOfLineBreak)
{
    const Json twoLines = doc({paragraph({text("first"), hardBreak(), text("second")})});
    const Json twoParagraphs = doc({paragraph({text("first")}), paragraph({text("second")})});
    for (std::string_view separator : {"\n", "\r\n", "\r", "\v", "\f", "\u0085", "\u2028", "\u2029"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(separator)));
        std::string once = "first" + std::string(separator) + "second";
        std::string twice = "first" + std::string(separator) + std::string(separator) + "second";
        EXPECT_EQ(ADF::documentFromPlainText(once), twoLines);
        EXPECT_EQ(ADF::documentFromPlainText(twice), twoParagraphs);
    }
    // CR LF is one break, but LF CR is two, leaving an empty line between.
    EXPECT_EQ(ADF::documentFromPlainText("first\n\rsecond"), twoParagraphs);
    // Blank-only lines separate paragraphs like empty ones.
    EXPECT_EQ(ADF::documentFromPlainText("first\n \t\u00a0\nsecond"), twoParagraphs);
    // Text that only looks like a break stays (a lone 0xC2 or 0xE2 0x80 byte prefix of other characters).
    EXPECT_EQ(ADF::documentFromPlainText("caf\u00e9 \u2026"), doc({paragraph({text("caf\u00e9 \u2026")})}));
}

TEST(PlainTextToADF, NothingForBlankText)
{
    for (std::string_view blank : {"", "   ", " \t ", "\n", "\n\n\n", "\r\n \u2028\u3000\u00a0 \f"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(blank)));
        EXPECT_EQ(ADF::documentFromPlainText(blank), std::nullopt);
    }
    // A line that is only a bullet prefix is plain text, not an empty item (Jira rejects empty text nodes).
    EXPECT_EQ(ADF::documentFromPlainText("- "), doc({paragraph({text("-")})}));
}

TEST(PlainTextToADF, BulletLines)
{
    EXPECT_EQ(ADF::bulletItem("- item"), "item");
    EXPECT_EQ(ADF::bulletItem("-   word  "), "word");
    EXPECT_EQ(ADF::bulletItem("\t* starred"), "starred");
    EXPECT_EQ(ADF::bulletItem("\u2022 dot"), "dot");
    EXPECT_EQ(ADF::bulletItem("- - nested dash"), "- nested dash");
    EXPECT_EQ(ADF::bulletItem("-word"), std::nullopt);
    EXPECT_EQ(ADF::bulletItem("-"), std::nullopt);
    EXPECT_EQ(ADF::bulletItem("-   "), std::nullopt);
    EXPECT_EQ(ADF::bulletItem("\u2022dot"), std::nullopt);
    EXPECT_EQ(ADF::bulletItem("1. first"), std::nullopt);
    EXPECT_EQ(ADF::bulletItem("+ plus"), std::nullopt);

    // Lines are stored trimmed; dashes without a blank and numbered lines stay paragraph text.
    EXPECT_EQ(*ADF::documentFromPlainText("   leading\t\n-dash\n-\n1. first"),
              doc({paragraph({text("leading"), hardBreak(), text("-dash"), hardBreak(), text("-"), hardBreak(),
                              text("1. first")})}));
    EXPECT_EQ(*ADF::documentFromPlainText("  -   spaced  "), doc({bulletList({"spaced"})}));
}

TEST(ADFToPlainText, ParagraphsListsAndNesting)
{
    EXPECT_EQ(flatten(doc({paragraph({text("Intro")}), bulletList({"one", "two"})})), "Intro\n\u2022 one\n\u2022 two");

    // Further paragraphs of an item align with the text after the bullet.
    Json twoParagraphItem{{"type", "listItem"},
                          {"content", Json::array({paragraph({text("first")}), paragraph({text("second")})})}};
    EXPECT_EQ(flatten(doc({Json{{"type", "bulletList"}, {"content", Json::array({twoParagraphItem})}}})),
              "\u2022 first\n  second");

    // Nested items: two blanks per level, and the outer item's bullet stays on its own text.
    Json nested{{"type", "listItem"},
                {"content", Json::array({paragraph({text("outer")}), bulletList({"inner a", "inner b"})})}};
    Json nestedDoc =
        doc({Json{{"type", "bulletList"}, {"content", Json::array({nested})}}, paragraph({text("after")})});
    EXPECT_EQ(flatten(nestedDoc), "\u2022 outer\n  \u2022 inner a\n  \u2022 inner b\nafter");

    // Ordered lists show bullets too.
    EXPECT_EQ(flatten(doc({Json{{"type", "orderedList"}, {"content", bulletList({"x"})["content"]}}})), "\u2022 x");
}

TEST(ADFToPlainText, BreaksBlocksAndEmptyText)
{
    EXPECT_EQ(flatten(doc({paragraph({})})), std::nullopt);
    EXPECT_EQ(flatten(doc({paragraph({text("   ")}), Json{{"type", "rule"}}})), std::nullopt);
    EXPECT_EQ(flatten(doc({})), std::nullopt);
    EXPECT_EQ(flatten(Json::object()), std::nullopt);

    // Hard breaks end lines; blanks around them go; empty paragraphs leave no blank line.
    EXPECT_EQ(flatten(doc({paragraph({text(" a "), hardBreak(), text("b\t")}), paragraph({}), paragraph({text("c")})})),
              "a\nb\nc");
    // Block types end lines; inline nodes run on; line feeds inside a code block stay in its one line.
    Json heading{{"type", "heading"}, {"attrs", {{"level", 1}}}, {"content", Json::array({text("Title")})}};
    Json code{{"type", "codeBlock"}, {"content", Json::array({text("x = 1\ny = 2\n")})}};
    Json mention{{"type", "mention"}, {"attrs", {{"id", "1"}, {"text", "@Ana"}}}};
    EXPECT_EQ(flatten(doc({heading, paragraph({text("Hi "), mention, text(" there")}), code})),
              "Title\nHi  there\nx = 1\ny = 2\n");
    // A node without a type still passes its children's text on, and leaves the line open.
    Json untyped{{"content", Json::array({text("loose")})}};
    EXPECT_EQ(flatten(doc({paragraph({untyped, text(" end")})})), "loose end");
}

TEST(ADFToPlainText, RoundTripThroughTheDocument)
{
    auto document = ADF::documentFromPlainText("  Plan\r\nfor today\n\n- buy\n- cook  \n\nDone.");
    ASSERT_TRUE(document);
    EXPECT_EQ(flatten(*document), "Plan\nfor today\n\u2022 buy\n\u2022 cook\nDone.");
}

TEST(ADFAttachments, CountsMediaNodesAtAnyDepth)
{
    Json media{{"type", "media"}, {"attrs", {{"type", "file"}, {"id", "6e7c"}, {"collection", ""}}}};
    Json single{{"type", "mediaSingle"}, {"content", Json::array({media})}};
    Json group{{"type", "mediaGroup"}, {"content", Json::array({media, media})}};
    Json inlineMedia{{"type", "mediaInline"}, {"attrs", {{"id", "1"}}}};
    EXPECT_EQ(ADF::attachmentNodeCount(doc({single, group, paragraph({text("x"), inlineMedia})})), 6u);
    EXPECT_EQ(ADF::attachmentNodeCount(doc({paragraph({text("no media")})})), 0u);
    EXPECT_EQ(ADF::attachmentNodeCount(Json()), 0u);
    EXPECT_EQ(ADF::attachmentNodeCount(Json("media")), 0u);
    // Attributes are not content: a type member there is not a node.
    EXPECT_EQ(ADF::attachmentNodeCount(doc({Json{{"type", "inlineCard"}, {"attrs", {{"type", "media"}}}}})), 0u);

    // Far deeper than any stack could recurse.
    Json deep = media;
    for (int i = 0; i < 100000; ++i) {
        deep = Json{{"type", "listItem"}, {"content", Json::array({std::move(deep)})}};
    }
    EXPECT_EQ(ADF::attachmentNodeCount(deep), 1u);
}
