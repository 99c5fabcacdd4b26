// Tests of the UTF-16 child command line: blanks and quoting, conversion,
// the move to a heap buffer when the caller's buffer is too small, and
// failures that leave no heap buffer behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cvplatform/cv_str.h"

namespace {

// Builds with a caller buffer of `buffer_bytes` and returns the line.
std::u16string build(const char *program, const std::vector<const char *> &args,
                     std::size_t buffer_bytes, bool *used_heap = nullptr) {
    std::vector<char16_t> buffer(buffer_bytes / 2 + 1, u'#');
    char16_t *heap = reinterpret_cast<char16_t *>(1);
    const cv_status status =
        cv_cmdline_build(program, args.data(), args.size(), buffer_bytes ? buffer.data() : nullptr,
                         buffer_bytes, &heap);
    EXPECT_EQ(status, CV_OK);
    if (status != CV_OK) return u"<failed>";
    if (used_heap != nullptr) *used_heap = heap != nullptr;
    std::u16string line(heap != nullptr ? heap : buffer.data());
    EXPECT_EQ(cv_cmdline_free(&heap), CV_OK);
    EXPECT_EQ(heap, nullptr);
    return line;
}

TEST(CmdlineBuild, TakesAWholeCommandLineAsItIs) {
    EXPECT_EQ(build("/opt/corvane/bin/cvcp -t \"a b\"", {}, 1024),
              u"/opt/corvane/bin/cvcp -t \"a b\"");
}

TEST(CmdlineBuild, SeparatesArgumentsAndQuotesThoseThatNeedIt) {
    EXPECT_EQ(build("prog", {"a", "b c", "", "say \"hi\" now", "x\"y", "plain"}, 1024),
              u"prog a \"b c\" \"\" \"say hi now\" \"xy\" plain");
}

TEST(CmdlineBuild, ConvertsUtf8) {
    EXPECT_EQ(build("pr\xC3\xB6g", {"\xE2\x82\xAC 1", "\xF0\x9F\x98\x80"}, 1024),
              u"pr\u00F6g \"\u20AC 1\" \U0001F600");
}

TEST(CmdlineBuild, MovesToTheHeapWhenTheBufferIsTooSmall) {
    bool used_heap = false;
    // "ab" needs 6 bytes with its terminator, and 4 more must stay free.
    EXPECT_EQ(build("ab", {}, 10, &used_heap), u"ab");
    EXPECT_FALSE(used_heap);
    EXPECT_EQ(build("ab", {}, 9, &used_heap), u"ab");
    EXPECT_TRUE(used_heap);
    EXPECT_EQ(build("ab", {"c d"}, 0, &used_heap), u"ab \"c d\"");
    EXPECT_TRUE(used_heap);
}

TEST(CmdlineBuild, GrowsRepeatedlyForLongArgumentLists) {
    std::vector<std::string> storage;
    std::vector<const char *> args;
    std::u16string expected = u"program";
    for (int i = 0; i < 200; ++i) {
        storage.push_back(std::string(static_cast<std::size_t>(i % 150), 'x') +
                          (i % 3 ? "" : " q"));
    }
    for (const auto &arg : storage) {
        args.push_back(arg.c_str());
        std::u16string wide(arg.begin(), arg.end());
        const bool quoted = arg.empty() || arg.find(' ') != std::string::npos;
        expected += u" " + (quoted ? u"\"" + wide + u"\"" : wide);
    }
    bool used_heap = false;
    EXPECT_EQ(build("program", args, 64, &used_heap), expected);
    EXPECT_TRUE(used_heap);
}

TEST(CmdlineBuild, FailuresLeaveNoHeapBuffer) {
    char16_t buffer[8];
    char16_t *heap = nullptr;
    const char *bad_utf8[] = {"ok", "\xC0\xAF"};
    EXPECT_EQ(cv_cmdline_build("prog", bad_utf8, 2, buffer, 2, &heap), CV_E_INVALID);
    EXPECT_EQ(heap, nullptr);
    const char *with_null[] = {"ok", nullptr};
    EXPECT_EQ(cv_cmdline_build("prog", with_null, 2, buffer, sizeof(buffer), &heap), CV_E_INVALID);
    EXPECT_EQ(heap, nullptr);
    EXPECT_EQ(cv_cmdline_build(nullptr, nullptr, 0, buffer, sizeof(buffer), &heap), CV_E_INVALID);
    EXPECT_EQ(cv_cmdline_build("prog", nullptr, 1, buffer, sizeof(buffer), &heap), CV_E_INVALID);
    EXPECT_EQ(cv_cmdline_build("prog", nullptr, 0, nullptr, 8, &heap), CV_E_INVALID);
    EXPECT_EQ(cv_cmdline_build("prog", nullptr, 0, buffer, sizeof(buffer), nullptr), CV_E_INVALID);
    EXPECT_EQ(cv_cmdline_free(nullptr), CV_OK);
}

}  // namespace
