// JSON from servers: nesting is bounded, whatever the kind of container.
#include <gtest/gtest.h>

#include "Miscellaneous/ZMJSON.h"

namespace {

std::string nested(int depth, char open, char close, const std::string& inner = "1") {
    std::string out;
    for (int i = 0; i < depth; ++i) out += open == '{' ? std::string("{\"k\":") : std::string(1, open);
    out += inner;
    for (int i = 0; i < depth; ++i) out += close;
    return out;
}

TEST(ZMJSON, NestingIsBoundedWhateverTheContainer) {
    struct Case {
        std::string name, text;
        bool parsed;
        std::string why;
    };
    const int limit = ZMJSON::kMaximumDepth;
    std::string wide = "[0";
    for (int i = 0; i < 10'000; ++i) wide += ",{\"a\": [1]}";
    wide += "]";
    for (const auto& c : std::vector<Case>{
             {"arrays at the limit", nested(limit, '[', ']'), true, ""},
             {"objects at the limit", nested(limit, '{', '}'), true, ""},
             {"arrays past the limit", nested(limit + 2, '[', ']'), false, "nested too deeply"},
             {"objects past the limit", nested(limit + 2, '{', '}'), false, "nested too deeply"},
             {"100,000 arrays", nested(100'000, '[', ']'), false, "nested too deeply"},
             {"mixed, deep inside a wide document", "[1, 2, {\"a\": " + nested(1000, '[', ']') + "}]", false, "nested too deeply"},
             {"deep but unterminated", std::string(100'000, '['), false, "nested too deeply"},
             {"not JSON", "{\"a\": ", false, "not JSON"},
             {"empty", "", false, "not JSON"},
             {"a wide flat document", wide, true, ""},
         }) {
        std::string why;
        auto parsed = ZMJSON::parse(c.text, &why);
        EXPECT_EQ(parsed.has_value(), c.parsed) << c.name;
        EXPECT_EQ(why, c.why) << c.name;
    }
    // A caller may ask for less.
    EXPECT_FALSE(ZMJSON::parse(nested(5, '[', ']'), nullptr, 3));
    EXPECT_EQ(ZMJSON::parse("{\"a\": [1, {\"b\": \"c\"}]}")->at("a").at(1).at("b"), "c");
}

}  // namespace
