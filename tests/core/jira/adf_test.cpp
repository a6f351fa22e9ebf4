// Plain text <-> ADF against the tables in tests/data/jira/adf.json (input, expected, and why when it is not
// obvious).
#include <gtest/gtest.h>

#include "adf_builder.h"
#include "core/jira/adf.h"
#include "core/jira/models.h"
#include "failure.h"
#include "temp_dir.h"

using namespace taskbell;
using namespace taskbell::test::adf;

namespace {

const Json kAdf = Json::parse(taskbell::test::readFile(TASKBELL_TEST_DATA "/jira/adf.json"));

template <typename T> Json orNull(const std::optional<T>& value)
{
    return value ? Json(*value) : Json();
}

} // namespace

TEST(PlainTextToADF, ParagraphsListsBulletsAndBlankText)
{
    for (const Json& row : kAdf["fromPlainText"]) {
        EXPECT_EQ(orNull(ADF::documentFromPlainText(row[0].get<std::string>())), row[1]) << row.dump();
    }
    for (const Json& row : kAdf["bulletItem"]) {
        EXPECT_EQ(orNull(ADF::bulletItem(row[0].get<std::string>())), row[1]) << row.dump();
    }
    EXPECT_TRUE(ADF::documentFromPlainText("x")->at("version").is_number_integer());
}

TEST(PlainTextToADF, EveryKindOfLineBreak)
{
    const Json twoLines = doc({paragraph({text("first"), hardBreak(), text("second")})});
    const Json twoParagraphs = doc({paragraph({text("first")}), paragraph({text("second")})});
    for (std::string separator : {"\n", "\r\n", "\r", "\v", "\f", "\u0085", "\u2028", "\u2029"}) {
        SCOPED_TRACE(testing::PrintToString(separator));
        EXPECT_EQ(ADF::documentFromPlainText("first" + separator + "second"), twoLines);
        EXPECT_EQ(ADF::documentFromPlainText("first" + separator + separator + "second"), twoParagraphs);
    }
}

TEST(PlainTextToADF, RefusesMoreLinesThanJiraKeeps)
{
    std::string lines;
    for (std::size_t i = 0; i < ADF::maxLines; ++i) {
        lines += "- a\n\n";
    }
    EXPECT_TRUE(ADF::documentFromPlainText(lines));
    EXPECT_EQ(taskbell::test::failure<ADF::TooManyLines>([&] { ADF::documentFromPlainText(lines + "b"); }),
              "The description is too long for Jira \u2014 it has more than 20,000 lines.");
}

TEST(ADFToPlainText, BlocksListsBreaksAndTheRoundTrip)
{
    for (const Json& row : kAdf["toPlainText"]) {
        EXPECT_EQ(orNull(ADF::plainText(decodeADFNode(row[0]))), row[1]) << row.dump();
    }
    auto document = ADF::documentFromPlainText("  Plan\r\nfor today\n\n- buy\n- cook  \n\nDone.");
    EXPECT_EQ(ADF::plainText(decodeADFNode(document.value())), "Plan\nfor today\n\u2022 buy\n\u2022 cook\nDone.");
}

TEST(ADFAttachments, CountsMediaNodesAtAnyDepth)
{
    Json media{{"type", "media"}, {"attrs", {{"type", "file"}, {"id", "6e7c"}, {"collection", ""}}}};
    Json single{{"type", "mediaSingle"}, {"content", Json::array({media})}};
    Json group{{"type", "mediaGroup"}, {"content", Json::array({media, media})}};
    Json inlineMedia{{"type", "mediaInline"}, {"attrs", {{"id", "1"}}}};
    EXPECT_EQ(ADF::attachmentNodeCount(doc({single, group, paragraph({text("x"), inlineMedia})})), 6u);
    // Attributes are not content: a type member there is not a node.
    for (const Json& none : {doc({paragraph({text("no media")})}), Json(), Json("media"),
                             doc({Json{{"type", "inlineCard"}, {"attrs", {{"type", "media"}}}}})}) {
        EXPECT_EQ(ADF::attachmentNodeCount(none), 0u) << none;
    }
    // Far deeper than any stack could recurse.
    Json deep = media;
    for (int i = 0; i < 100000; ++i) {
        deep = Json{{"type", "listItem"}, {"content", Json::array({std::move(deep)})}};
    }
    EXPECT_EQ(ADF::attachmentNodeCount(deep), 1u);
}
