// The JSON writer's strings: every byte has one reading, and text that is
// UTF-8 stays as it is.
#include <gtest/gtest.h>

#include <string>

#include "cvconf_json.h"

namespace {

struct escape_case {
    const char *what;
    std::string text;
    std::string json;
};

const escape_case kEscapes[] = {
    {"plain", "alice", "\"alice\""},
    {"quote and backslash", "say \"hi\" CORP\\bob", "\"say \\\"hi\\\" CORP\\\\bob\""},
    {"short escapes", "a\tb\nc\rd", "\"a\\tb\\nc\\rd\""},
    {"other control characters and DEL", std::string("\x01\x1f\x7f", 3),
     "\"\\u0001\\u001f\\u007f\""},
    {"a zero byte", std::string("a\0b", 3), "\"a\\u0000b\""},
    {"UTF-8 of two, three and four bytes", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80",
     "\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80\""},
    {"a stray byte", "a\xff", "\"a\\udcff\""},
    {"a cut sequence", "\xe2\x82", "\"\\udce2\\udc82\""},
    {"an overlong slash", "\xc0\xaf", "\"\\udcc0\\udcaf\""},
    {"an encoded surrogate", "\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},
    {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},
};

TEST(cvconf_json, strings_escape_what_json_needs_and_keep_every_byte) {
    for (const escape_case &row : kEscapes) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(cvconf_json_string(row.text), row.json);
    }
}

TEST(cvconf_json, members_and_items_are_separated_once) {
    cvconf_json json;
    json.begin_object().key("a").begin_array().string("x").number(-2).null().end_array();
    json.key("b").begin_object().end_object().key("c").boolean(false).end_object();
    EXPECT_EQ(json.text(), "{\"a\":[\"x\",-2,null],\"b\":{},\"c\":false}\n");
}

}  // namespace
