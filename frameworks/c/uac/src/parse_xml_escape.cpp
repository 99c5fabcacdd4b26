// Escaping of values written as XML text, and the checker of override
// strings made of simple items.
//
// Escaping builds the result in a scratch buffer of the destination's size
// and copies it over only when it fits, so that destination and source may
// be the same buffer and a result that does not fit leaves the destination
// untouched.  Besides the three characters that must be escaped in text, a
// greater-than sign is escaped where it would close "]]>", a sequence that
// may not appear in XML text: without that a value holding it would make the
// written file unreadable.
//
// The checker is a single forward scan that accepts exactly a sequence of
// "<T>value</T>" and "<T/>" items separated by white space, and names the
// first thing that breaks the form.
#include <cstring>
#include <string_view>

#include "cvplatform/cv_containers.h"
#include "uac/parse_xml.h"

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

/* The replacement of the byte at `at` of `source`, or an empty view when it
 * is copied as it is. */
std::string_view escape_of(const char *source, std::size_t at) {
    switch (source[at]) {
        case '"':
            return "&quot;";
        case '&':
            return "&amp;";
        case '<':
            return "&lt;";
        case '>':
            if (at >= 2 && source[at - 1] == ']' && source[at - 2] == ']') return "&gt;";
            return {};
        default:
            return {};
    }
}

/* The checker's scan over one text. */
class item_scanner {
public:
    item_scanner(const char *text, std::string_view tag) : at_(text), tag_(tag) {}

    /* Null when the text is a sequence of items, else the reason. */
    const char *check() {
        for (;;) {
            skip_space();
            if (*at_ == '\0') return nullptr;
            if (const char *problem = check_item()) return problem;
        }
    }

private:
    void skip_space() {
        while (is_space(*at_)) ++at_;
    }
    bool take_tag_name() {
        if (std::strncmp(at_, tag_.data(), tag_.size()) != 0) return false;
        at_ += tag_.size();
        return true;
    }

    const char *check_item() {
        if (*at_ != '<') return "Data needs to be inside XML tags.";
        ++at_;
        if (!take_tag_name()) return "Unexpected XML tag";
        skip_space();
        if (*at_ == '/') {
            ++at_;
            if (*at_ != '>') return "Malformed self-terminated XML tag";
            ++at_;
            return nullptr;
        }
        if (*at_ != '>') return "Unexpected data in opening tag (No attributes allowed)";
        const char *closing = std::strchr(at_ + 1, '<');
        if (!closing) return "Missing terminating XML tag.";
        at_ = closing + 1;
        if (*at_ != '/')
            return "Each opening XML tag must be followed by a matching closing tag (no nested "
                   "tags allowed)";
        ++at_;
        if (!take_tag_name()) return "Mismatched closing tag.";
        skip_space();
        if (*at_ != '>') return "Unexpected data in closing tag (No attributes allowed)";
        ++at_;
        return nullptr;
    }

    const char *at_;
    std::string_view tag_;
};

}  // namespace

cv_status cv_uac_escape_string_for_xml(char *destination, const char *source,
                                       std::size_t capacity) {
    if (!destination || !source || capacity == 0) return CV_E_INVALID;
    cv_stack_slot slots[1] = {};
    std::uint32_t state = CV_STACK_FRESH;
    auto *scratch = static_cast<char *>(CV_STACK_ALLOC(capacity, slots, state));
    if (!scratch || state == CV_STACK_FAILED) {
        cv_stack_free_all(slots, 1, &state);
        return CV_E_NO_MEMORY;
    }

    cv_status status = CV_OK;
    std::size_t length = 0;
    for (std::size_t at = 0; source[at] != '\0'; ++at) {
        const std::string_view escape = escape_of(source, at);
        const std::size_t needed = escape.empty() ? 1 : escape.size();
        if (length + needed >= capacity) {
            status = CV_E_BUFFER_SPACE;
            break;
        }
        if (escape.empty())
            scratch[length] = source[at];
        else
            std::memcpy(scratch + length, escape.data(), escape.size());
        length += needed;
    }
    if (status == CV_OK) {
        scratch[length] = '\0';
        std::memcpy(destination, scratch, length + 1);
    }
    cv_stack_free_all(slots, 1, &state);
    return status;
}

cv_status parse_xml_check_items(const char *text, std::int32_t tag, const char **message) {
    if (message) *message = nullptr;
    const char *name = tag == PARSE_XML_TAG_Move_Up_to_Parent
                           ? parse_xml_tag_name(PARSE_XML_TAG_item)
                           : parse_xml_tag_name(tag);
    const char *problem = nullptr;
    if (!text)
        problem = "Data needs to be inside XML tags.";
    else if (!name)
        problem = "Unexpected XML tag";
    else
        problem = item_scanner(text, name).check();
    if (!problem) return CV_OK;
    if (message) *message = problem;
    return CV_E_INVALID;
}
