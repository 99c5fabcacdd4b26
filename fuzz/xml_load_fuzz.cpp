// libFuzzer target of the XML layer: loads arbitrary bytes as a
// configuration, decorates the tree, and runs searches, best matches, the
// accessors, escaping and the item checker over whatever came out.
//
// Input layout: the first byte chooses the version test (any version, version
// 2, or none) and the tag numbers of the search paths; the rest is the
// document, taken as an in-memory XML string (a "<" is put in front when it
// does not start with one, and it ends at its first zero byte, as every text
// the layer is given does).  Any crash, sanitizer report, leak or hang is a
// fault.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "uac/parse_xml.h"

namespace {

constexpr std::size_t kEscapeCapacity = 512;

/* Tag numbers for the searches, drawn from the input so that paths reach
 * what the document holds. */
std::vector<std::int32_t> path_from(const std::uint8_t *data, std::size_t size,
                                    std::size_t levels) {
    std::vector<std::int32_t> path;
    for (std::size_t i = 0; i < levels && i < size; ++i)
        path.push_back(static_cast<std::int32_t>(data[i] * 7 + i) % PARSE_XML_TAG_COUNT);
    path.push_back(PARSE_XML_END);
    return path;
}

void exercise_text(const char *text, std::int32_t tag) {
    if (!text) return;
    char escaped[kEscapeCapacity];
    (void)cv_uac_escape_string_for_xml(escaped, text, sizeof escaped);
    const char *message = nullptr;
    (void)parse_xml_check_items(text, tag, &message);
}

void search(xmlNode *const *roots, const std::uint8_t *data, std::size_t size) {
    constexpr std::int32_t kCommonPaths[][4] = {
        {PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_TAG_name, PARSE_XML_END},
        {PARSE_XML_TAG_groups, PARSE_XML_TAG_group, PARSE_XML_TAG_name, PARSE_XML_END},
        {PARSE_XML_TAG_server, PARSE_XML_TAG_Move_Up_to_Parent, PARSE_XML_TAG_server,
         PARSE_XML_END},
    };
    for (const auto &path : kCommonPaths) {
        parse_xml_search_handle *handle = nullptr;
        std::int32_t score = 0;
        int matches = 0;
        for (xmlNode *m = parse_xml_get_first_matching_node(roots, &handle, path, nullptr,
                                                            nullptr, &score);
             m && matches < 10000; m = parse_xml_get_next_matching_node(handle, &score), ++matches)
            exercise_text(parse_xml_get_node_text(m), path[2]);
        (void)parse_xml_free_search_handle(handle);
        (void)parse_xml_get_best_matching_node(roots, path, nullptr, nullptr);
    }
    const std::vector<std::int32_t> drawn = path_from(data, size, 4);
    (void)parse_xml_get_best_matching_node(roots, drawn.data(), nullptr, nullptr);
    const char *name = parse_xml_get_first_matching_text_args(
        roots, PARSE_XML_TAG_users, PARSE_XML_TAG_user, PARSE_XML_TRIM, PARSE_XML_NOCASE,
        PARSE_XML_STRING_EQUALS, "bob", PARSE_XML_TAG_name, PARSE_XML_END);
    exercise_text(name, PARSE_XML_TAG_item);
    (void)parse_xml_get_first_matching_node_args(roots, nullptr, PARSE_XML_TAG_server,
                                                 PARSE_XML_NUMBER_EQUALS, "0x10",
                                                 PARSE_XML_TAG_db_port, PARSE_XML_END);
    (void)parse_xml_get_first_matching_node_args(roots, nullptr, PARSE_XML_TAG_users,
                                                 PARSE_XML_VALUE_IS_PATTERN, "*a*",
                                                 PARSE_XML_TAG_user, PARSE_XML_END);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    return parse_xml_initialize() == CV_OK ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t mode = data[0] % 3;
    std::string text(reinterpret_cast<const char *>(data + 1), size - 1);
    if (text.empty() || text[0] != '<') text.insert(text.begin(), '<');

    std::int32_t version = mode == 0 ? PARSE_XML_ANY_VERSION : 2;
    xmlDoc *document = nullptr;
    if (parse_xml_load_document(text.c_str(), mode == 2 ? nullptr : &version, &document) !=
        CV_OK)
        return 0;
    cv_uac_heap *heap = nullptr;
    if (cv_uac_heap_create(&heap, nullptr, nullptr) == CV_OK) {
        xmlNode *roots[2] = {parse_xml_get_root(document), nullptr};
        parse_xml_tracker *tracker = nullptr;
        if (roots[0] && parse_xml_decorate_tree(roots[0], &tracker, heap) == CV_OK) {
            search(roots, data, size);
            (void)parse_xml_undecorate_tree(roots[0]);
        }
        (void)cv_uac_heap_release(&heap);
    }
    parse_xml_free_document(document);
    return 0;
}
