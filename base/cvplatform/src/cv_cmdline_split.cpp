// Splitting a Windows-form command line into an argument vector.
//
// These are the rules of the Windows C runtime's start-up code, which decide
// what argument vector a child sees when it is started with one command line.
// Applying them ourselves keeps the argument vector the same on every
// platform.  The program word follows the same rules as every other argument.
#include "cvplatform/cv_process.h"

#include <string_view>

namespace {

constexpr bool is_separator(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::vector<std::string> cv_cmdline_split(const char *cmdline, std::size_t *rest) {
    std::vector<std::string> args;
    const std::string_view text = cmdline ? std::string_view(cmdline) : std::string_view();
    if (rest) *rest = text.size();

    std::size_t i = 0;
    while (true) {
        while (i < text.size() && is_separator(text[i])) ++i;
        if (i >= text.size()) break;

        std::string arg;
        bool quoted = false;
        while (i < text.size() && (quoted || !is_separator(text[i]))) {
            const char c = text[i];
            if (c == '\\') {
                std::size_t slashes = 0;
                while (i < text.size() && text[i] == '\\') {
                    ++slashes;
                    ++i;
                }
                if (i < text.size() && text[i] == '"') {
                    arg.append(slashes / 2, '\\');
                    if (slashes % 2 == 1) {
                        arg.push_back('"');
                        ++i;
                    }
                    // An even count leaves the quote to toggle grouping below.
                } else {
                    arg.append(slashes, '\\');
                }
                continue;
            }
            if (c == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            arg.push_back(c);
            ++i;
        }
        args.push_back(std::move(arg));
        if (args.size() == 1 && rest) *rest = i;
    }
    return args;
}
