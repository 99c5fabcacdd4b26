// Support shared by the value type handlers: element text, lookup lists,
// escaping of "copied" overrides and the shared strings.
//
// A lookup list is never copied or parsed ahead: it is read as views each
// time, a linear walk over a catalogue string of a few hundred bytes.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

namespace cv_uac_type_impl {

namespace {

char shared_empty[1] = {'\0'};
char shared_blank[1] = {'\0'};

char to_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

/* Calls `visit(name, value)` for each "name:value" pair of `pairs` until it
 * returns true; pieces without ":" are passed over. */
template <typename Visit>
bool for_each_pair(std::string_view pairs, Visit visit) {
    while (!pairs.empty()) {
        const std::size_t end = pairs.find(';');
        std::string_view piece = pairs.substr(0, end);
        pairs = end == std::string_view::npos ? std::string_view() : pairs.substr(end + 1);
        const std::size_t colon = piece.find(':');
        if (colon == std::string_view::npos) continue;
        std::string_view value = piece.substr(colon + 1);
        value = value.substr(0, value.find('"'));
        if (visit(piece.substr(0, colon), value)) return true;
    }
    return false;
}

/* The `lookup` refusal message, overwritten by the next. */
thread_local char lookup_message[CV_UAC_LOOKUP_MESSAGE_SIZE];

}  // namespace

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view trim(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

bool equal_nocase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (to_lower(a[i]) != to_lower(b[i])) return false;
    return true;
}

bool is_null_marker(std::string_view text) { return text == CV_UAC_NULL; }

const char *element_text(const xmlNode *element) {
    if (!element) return nullptr;
    if (const parse_xml_tracker *record = parse_xml_get_tracker(element)) return record->text;
    return parse_xml_get_node_text(element);
}

const char *element_name(const xmlNode *element) {
    const char *name = parse_xml_get_node_name(element);
    return name ? name : "";
}

std::string_view trimmed_element_text(const xmlNode *element) {
    const char *text = element_text(element);
    return text ? trim(text) : std::string_view();
}

bool copy_view(std::string_view text, char *buffer, std::size_t capacity) {
    if (text.size() >= capacity) return false;
    if (!text.empty()) std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = '\0';
    return true;
}

lookup_list split_lookup(const char *lookup, bool with_scale) {
    if (!lookup) return {};
    std::string_view list(lookup);
    const bool quoted = !list.empty() && list.front() == '"';
    while (!list.empty() && list.front() == '"') list.remove_prefix(1);
    if (quoted)
        while (!list.empty() && list.back() == '"') list.remove_suffix(1);
    if (!with_scale) return {{}, list};
    const std::size_t semicolon = list.find(';');
    if (semicolon == std::string_view::npos) return {list, {}};
    return {list.substr(0, semicolon), list.substr(semicolon + 1)};
}

std::int64_t integer_scale(const lookup_list &list) {
    char field[64];
    std::int64_t scale = 0;
    if (!copy_view(list.scale, field, sizeof field) ||
        cv_str_to_i64(field, &scale, nullptr) != CV_OK || scale <= 0)
        return 1;
    return scale;
}

double double_scale(const lookup_list &list) {
    char field[64];
    if (!copy_view(list.scale, field, sizeof field)) return 1.0;
    char *end = nullptr;
    const double scale = std::strtod(field, &end);
    if (end == field || !(scale > 0.0) || scale == HUGE_VAL) return 1.0;
    return scale;
}

bool find_pair_value(std::string_view pairs, std::string_view text, std::string_view *value) {
    return for_each_pair(pairs, [&](std::string_view name, std::string_view pair_value) {
        if (!equal_nocase(name, text)) return false;
        *value = pair_value;
        return true;
    });
}

std::string_view translate(std::string_view text, std::string_view pairs) {
    std::string_view value;
    return find_pair_value(pairs, text, &value) ? value : text;
}

bool find_pair_name(std::string_view pairs, std::string_view printed, char *output,
                    std::size_t capacity) {
    return for_each_pair(pairs, [&](std::string_view name, std::string_view value) {
        return equal_nocase(value, printed) && copy_view(name, output, capacity);
    });
}

/* "Lookup value not in list.  Acceptable values are:  " and the names. */
const char *lookup_refusal(const char *lookup) {
    std::size_t cursor = 0;
    (void)cv_str_append(lookup_message, "Lookup value not in list.  Acceptable values are:  ",
                        sizeof lookup_message, &cursor);
    const std::size_t names_start = cursor;
    for_each_pair(split_lookup(lookup, false).pairs, [&](std::string_view name, std::string_view) {
        if (cursor > names_start)
            (void)cv_str_append(lookup_message, ", ", sizeof lookup_message, &cursor);
        return cv_str_to(lookup_message, name.data(), name.size(), sizeof lookup_message,
                         &cursor) != CV_OK;
    });
    return lookup_message;
}

cv_status write_number(std::string_view pairs, const char *printed, const char *alternative,
                       char *output, std::size_t capacity) {
    if (find_pair_name(pairs, printed, output, capacity)) return CV_OK;
    if (alternative && find_pair_name(pairs, alternative, output, capacity)) return CV_OK;
    if (cv_str_copy(output, printed, capacity) == CV_OK) return CV_OK;
    output[0] = '\0';
    return CV_E_BUFFER_SPACE;
}

cv_status copy_escaped(const char *text, char *output, std::size_t capacity) {
    if (!text || !output || capacity == 0) return CV_E_INVALID;
    const cv_status status = cv_uac_escape_string_for_xml(output, text, capacity);
    if (status != CV_OK) output[0] = '\0';
    return status;
}

cv_status append_escaped(char *output, std::size_t capacity, std::size_t *cursor,
                         std::string_view text) {
    // The text is copied to its place first and escaped there (the escaper
    // takes the same buffer as source and destination), so no scratch
    // buffer bounds what fits: only the output's capacity does.
    const std::size_t at = *cursor;
    if (at >= capacity || text.size() >= capacity - at) return CV_E_BUFFER_SPACE;
    std::memmove(output + at, text.data(), text.size());
    output[at + text.size()] = '\0';
    const cv_status status = cv_uac_escape_string_for_xml(output + at, output + at, capacity - at);
    if (status != CV_OK) {
        output[at] = '\0';
        return status;
    }
    *cursor = at + std::strlen(output + at);
    return CV_OK;
}

bool lookup_selects_power2(const char *lookup) {
    return lookup && std::strstr(lookup, "power2") != nullptr;
}

void free_string(void *value, const void *default_value) {
    if (!value) return;
    char *&slot = *static_cast<char **>(value);
    const char *default_string =
        default_value ? *static_cast<char *const *>(default_value) : nullptr;
    if (!slot || slot == default_string || slot == shared_empty || slot == shared_blank) return;
    cv_uac_free(slot);
    slot = nullptr;
}

void free_nothing(void *, const void *) {}

cv_status warn_conversion(cv_uac_warning **warnings, std::string_view text,
                          const xmlNode *element, const char *reason) {
    add_warning(warnings, CV_E_UAC_PARSE, "Error converting \"%.*s\" to %s.  %s",
                static_cast<int>(text.size()), text.data(), element_name(element), reason);
    return CV_E_UAC_PARSE;
}

}  // namespace cv_uac_type_impl

char *cv_uac_shared_empty_string() { return cv_uac_type_impl::shared_empty; }
char *cv_uac_shared_blank_string() { return cv_uac_type_impl::shared_blank; }
