// Wildcard matching: "*" matches any run of characters, "?" any one
// character, "\" makes the next pattern character literal; everything else
// matches itself, byte for byte and case-sensitively.
//
// The rule is defined recursively: a "*" that ends the pattern matches the
// rest of the text; any other "*" matches when the rest of the pattern
// matches the text from some position up to its last character; when one
// side runs out, the match holds only if both ran out or the pattern's rest
// is exactly "*".  Evaluated naively that recursion takes exponential time on
// patterns with many stars, and some patterns are matched against text a
// client supplies.  So the same rule is evaluated as a table over (pattern
// suffix, text suffix), one row per pattern position from the end, keeping
// only the two rows below: O(pattern x text) time, O(text) memory.
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include "cvplatform/cv_str.h"

namespace {

constexpr int kMatch = 0;
constexpr int kNoMatch = 1;

}  // namespace

int cv_wildcard_match(const char *pattern, const char *text) {
    if (pattern == nullptr || text == nullptr) return kNoMatch;
    const std::size_t plen = std::strlen(pattern);
    const std::size_t tlen = std::strlen(text);

    try {
        // below1[j]: does pattern suffix i+1 match text suffix j;
        // below2[j]: the same for pattern suffix i+2.
        std::vector<unsigned char> row(tlen + 1), below1(tlen + 1), below2(tlen + 1);
        // The empty pattern matches only the empty text.
        below1.assign(tlen + 1, 0);
        below1[tlen] = 1;
        below2.assign(tlen + 1, 0);

        for (std::size_t i = plen; i-- > 0;) {
            const char p = pattern[i];
            // The text has run out: only a final lone "*" is left to match.
            row[tlen] = (p == '*' && i + 1 == plen) ? 1 : 0;
            if (p == '*' && i + 1 == plen) {
                row.assign(tlen + 1, 1);
            } else if (p == '*') {
                // Any later position up to the last character.
                unsigned char any = 0;
                for (std::size_t j = tlen; j-- > 0;) {
                    any = static_cast<unsigned char>(any | below1[j]);
                    row[j] = any;
                }
            } else if (p == '\\') {
                // A trailing backslash stands for the terminator, which no
                // character of the text equals.
                for (std::size_t j = 0; j < tlen; ++j)
                    row[j] = (i + 1 < plen && pattern[i + 1] == text[j]) ? below2[j + 1] : 0;
            } else {
                for (std::size_t j = 0; j < tlen; ++j)
                    row[j] = (p == '?' || p == text[j]) ? below1[j + 1] : 0;
            }
            below2.swap(below1);
            below1.swap(row);
        }
        return below1[0] != 0 ? kMatch : kNoMatch;
    } catch (const std::bad_alloc &) {
        return kNoMatch;
    }
}
