// The value type `string_list`: an ordered set of strings.
//
// The value is one block: the items one after another, each ended by a zero
// byte, then the end marker, a string of the single character 0x1A.  It is
// read from the item children of the option's element (`item`, or the
// element the option's parameter names), each scored by its fitness rules:
// items whose rules fail are left out.  That walk is public
// (cv_uac_string_list_visit_items) and the reader is built on it, so a caller
// that needs the items' elements (where each was written) meets exactly the
// list's items.  An override comes in two forms:
// the XML form, a sequence of item elements ("<item>a</item><item>b</item>",
// whose first character other than white space is "<"), taken as it is, and
// the plain form, a text whose first character is the separator of the rest
// (",a,b"), turned into one item element per piece.  Both forms are checked
// and converted by the same rule, so a text the checker passes is exactly
// the list that is set.
#include <cstring>
#include <string_view>

#include "cv_uac_type_impl.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_fitness.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

namespace cv_uac_type_impl {

namespace {

constexpr char kEndMarker[] = {CV_UAC_STRING_LIST_END, '\0'};

/* Bytes of the first UTF-8 character of `text` (1 for a stray byte). */
std::size_t first_character_size(const char *text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t size = 1;
    if (lead >= 0xF0)
        size = 4;
    else if (lead >= 0xE0)
        size = 3;
    else if (lead >= 0xC0)
        size = 2;
    for (std::size_t i = 1; i < size; ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
    return size;
}

/* Visits the kept items of `element` with `visit`(text), through the one
 * walk that cv_uac_string_list_visit_items is.  `*found` as there. */
template <typename Visit>
cv_status for_each_item(xmlNode *element, const char *parameter, cv_btree *variables,
                        Visit &visit, std::size_t *found) {
    const cv_uac_string_list_visitor trampoline = [](xmlNode *, const char *text,
                                                     std::size_t length, void *context) {
        (*static_cast<Visit *>(context))(std::string_view(text, length));
    };
    return cv_uac_string_list_visit_items(element, parameter, variables, trampoline, &visit,
                                          found);
}

}  // namespace

cv_status string_list_read(xmlNode *element, const char *parameter, void *value, cv_uac_warning **,
                           cv_btree *variables) {
    if (!element || !value) return CV_E_INVALID;

    std::size_t bytes = sizeof kEndMarker;
    std::size_t found = 0;
    auto measure = [&](std::string_view text) { bytes += text.size() + 1; };
    if (const cv_status status = for_each_item(element, parameter, variables, measure, &found);
        status != CV_OK)
        return status;
    if (found == 0) return CV_OK;

    auto *block = static_cast<char *>(
        CV_UAC_MALLOC(bytes + 2, "String list buffer.  String list will not be available"));
    char *&slot = *static_cast<char **>(value);
    if (!block) {
        slot = nullptr;
        return CV_E_NO_MEMORY;
    }
    // The items are collected again rather than remembered: the search is
    // cheap and this keeps the reader free of a second allocation.
    std::size_t used = 0;
    auto copy = [&](std::string_view text) {
        if (used + text.size() + 1 + sizeof kEndMarker > bytes) return;
        std::memcpy(block + used, text.data(), text.size());
        used += text.size();
        block[used++] = '\0';
    };
    (void)for_each_item(element, parameter, variables, copy, nullptr);
    std::memcpy(block + used, kEndMarker, sizeof kEndMarker);
    slot = block;
    return CV_OK;
}

namespace {

/* True for the XML form of an override: its first character other than
 * white space opens an element. */
bool is_xml_form(const char *text) {
    while (is_space(*text)) ++text;
    return *text == '<';
}

/* Appends "<T>text</T>", the text escaped. */
cv_status append_item(char *output, std::size_t capacity, std::size_t *cursor,
                      std::string_view tag_name, std::string_view text) {
    cv_status status = cv_str_append_printf(output, capacity, cursor, "<%.*s>",
                                            static_cast<int>(tag_name.size()), tag_name.data());
    if (status == CV_OK) status = append_escaped(output, capacity, cursor, text);
    if (status == CV_OK)
        status = cv_str_append_printf(output, capacity, cursor, "</%.*s>",
                                      static_cast<int>(tag_name.size()), tag_name.data());
    return status;
}

}  // namespace

cv_status string_list_check(const char *text, const char *parameter, const char **message) {
    if (message) *message = nullptr;
    const std::int32_t tag = cv_uac_string_list_item_tag(parameter);
    if (!text || tag == PARSE_XML_UNKNOWN_TAG) return CV_E_INVALID;
    // Any plain text splits into pieces, each a valid item once escaped.
    if (!is_xml_form(text)) return CV_OK;
    return parse_xml_check_items(text, tag, message);
}

cv_status string_list_to_xml(const char *text, char *output, std::size_t capacity,
                             const char *parameter) {
    if (!text || !output || capacity == 0) return CV_E_INVALID;
    const char *tag_name = parse_xml_tag_name(cv_uac_string_list_item_tag(parameter));
    if (!tag_name) return CV_E_INVALID;
    if (text[0] == '\0' || is_null_marker(text) || is_xml_form(text)) {
        // Items that are not what the checker passes would set nothing, or
        // break the document they are put in.
        output[0] = '\0';
        if (is_xml_form(text) && parse_xml_check_items(text, cv_uac_string_list_item_tag(parameter),
                                                       nullptr) != CV_OK)
            return CV_E_INVALID;
        const cv_status status = cv_str_copy(output, text, capacity);
        if (status != CV_OK) output[0] = '\0';
        return status;
    }
    const std::size_t separator_size = first_character_size(text);
    const std::string_view separator(text, separator_size);
    std::string_view rest(text + separator_size);
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    for (bool more = true; more && status == CV_OK;) {
        const std::size_t end = rest.find(separator);
        more = end != std::string_view::npos;
        status = append_item(output, capacity, &cursor, tag_name, rest.substr(0, end));
        rest = more ? rest.substr(end + separator.size()) : std::string_view();
    }
    if (status != CV_OK) output[0] = '\0';
    return status;
}

cv_status string_list_write(const void *value, char *output, std::size_t capacity,
                            const char *parameter) {
    if (!value || !output || capacity == 0) return CV_E_INVALID;
    const char *tag_name = parse_xml_tag_name(cv_uac_string_list_item_tag(parameter));
    if (!tag_name) return CV_E_INVALID;
    const char *list = *static_cast<char *const *>(value);
    if (!list) {
        const cv_status status = cv_str_copy(output, CV_UAC_NULL, capacity);
        if (status != CV_OK) output[0] = '\0';
        return status;
    }
    std::size_t cursor = 0;
    cv_status status = CV_OK;
    output[0] = '\0';
    for (const char *item = cv_uac_string_list_first(list); item && status == CV_OK;
         item = cv_uac_string_list_next(item))
        status = append_item(output, capacity, &cursor, tag_name, item);
    if (status != CV_OK) output[0] = '\0';
    return status;
}

void string_list_free(void *value, const void *default_value) { free_string(value, default_value); }

}  // namespace cv_uac_type_impl

const char *cv_uac_string_list_first(const char *list) {
    if (!list || list[0] == CV_UAC_STRING_LIST_END) return nullptr;
    return list;
}

const char *cv_uac_string_list_next(const char *item) {
    if (!item) return nullptr;
    const char *next = item + std::strlen(item) + 1;
    return next[0] == CV_UAC_STRING_LIST_END ? nullptr : next;
}

std::int32_t cv_uac_string_list_item_tag(const char *parameter) {
    if (!parameter || parameter[0] == '\0') return PARSE_XML_TAG_item;
    return parse_xml_tag_index(parameter);
}

cv_status cv_uac_string_list_visit_items(xmlNode *element, const char *parameter,
                                         cv_btree *variables, cv_uac_string_list_visitor visit,
                                         void *context, std::size_t *found) {
    if (found) *found = 0;
    if (!element || !visit) return CV_E_INVALID;
    const std::int32_t tag = cv_uac_string_list_item_tag(parameter);
    if (tag == PARSE_XML_UNKNOWN_TAG) return CV_E_INVALID;
    if (!variables) variables = cv_uac_default_variable_tree();

    xmlNode *start[2] = {element, nullptr};
    const std::int32_t path[2] = {tag, PARSE_XML_END};
    parse_xml_search_handle *handle = nullptr;
    std::int32_t score = 0;
    std::size_t met = 0;
    for (xmlNode *item =
             parse_xml_get_first_matching_node(start, &handle, path, variables, nullptr, &score);
         item; item = parse_xml_get_next_matching_node(handle, &score)) {
        ++met;
        if (score < 0) continue;
        const char *text = cv_uac_type_impl::element_text(item);
        const std::string_view trimmed = cv_uac_type_impl::trim(text ? text : "");
        visit(item, trimmed.data(), trimmed.size(), context);
    }
    if (handle) (void)parse_xml_free_search_handle(handle);
    if (found) *found = met;
    return CV_OK;
}
