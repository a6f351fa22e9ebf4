#include <gtest/gtest.h>

#include "core/base/json_util.h"

using namespace taskbell;

TEST(JsonUtil, NestingDepthIgnoresBracketsInStrings)
{
    EXPECT_EQ(jsonNestingDepth(R"({"a":[1,{"b":"[[[{{{"}]})"), 3u);
    EXPECT_EQ(jsonNestingDepth(R"("\"[[")"), 0u);
    EXPECT_EQ(jsonNestingDepth("42"), 0u);
}

TEST(JsonUtil, ParseRefusesDeepNestingAndInvalidText)
{
    std::string deep = std::string(65, '[') + std::string(65, ']');
    std::string shallow = std::string(64, '[') + std::string(64, ']');
    EXPECT_FALSE(parseJson(deep, 64));
    EXPECT_TRUE(parseJson(shallow, 64));
    std::string veryDeep = "{\"id\":" + std::string(100000, '[') + std::string(100000, ']') + "}";
    EXPECT_FALSE(parseJson(veryDeep, kMessageDepthLimit));
    EXPECT_FALSE(parseJson("{\"a\":", 64));
    EXPECT_FALSE(parseJson("{\"a\":\"\xff\"}", 64));
    EXPECT_FALSE(parseJson("", 64));
    auto value = parseJson(R"({"n":1,"s":"x"})", 64);
    ASSERT_TRUE(value);
    EXPECT_EQ((*value)["n"], 1);
}
