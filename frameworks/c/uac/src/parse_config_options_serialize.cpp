// Serialization of config objects to XML, and duplication through it.
//
// An object's options are first gathered into a value tree, one node per
// path element keyed by tag number, so that options sharing a path prefix
// share their elements; the tree is then written as indented XML.  Writing
// runs twice over the tree with the same code: once counting bytes, once
// storing them into a buffer of exactly that size, so no text is ever cut
// and no buffer is grown.  Children are written in the order their tags
// were first met, which for an object is catalogue order.
//
// Every value is written whole, however long its text, and a value that
// cannot be written fails the serialization instead of being left out.
//
// A duplicate is read back from the object's own serialized text, so it
// holds exactly what serialization keeps; the configuration it was read
// from stays with it, because its source elements point into it.
#include <cstring>
#include <string_view>

#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"
#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

using namespace cv_uac_config_impl;

constexpr const char *kBufferLabel =
    "Config object XML serialization buffer.  Serialization will fail";

/* Bytes of a comment a formatter may write. */
constexpr std::size_t kCommentSize = 1024;

struct tree_node {
    std::int32_t tag;
    const char *text;    /* null: none */
    const char *comment; /* null: none */
    tree_node *first_child;
    tree_node *last_child;
    tree_node *next_sibling;
};

}  // namespace

struct cv_uac_xml_tree {
    cv_uac_heap *heap;
    tree_node root;
    std::int32_t order[PARSE_XML_TAG_COUNT + 1];
    std::int32_t order_count;
    bool seen[PARSE_XML_TAG_COUNT];
};

namespace {

tree_node *child_with_tag(const tree_node *node, std::int32_t tag) {
    for (tree_node *child = node->first_child; child; child = child->next_sibling)
        if (child->tag == tag) return child;
    return nullptr;
}

/* A heap copy of `first` followed by `second`. */
const char *joined(cv_uac_heap *heap, const char *first, const char *second) {
    const std::size_t a = std::strlen(first);
    const std::size_t b = std::strlen(second);
    auto *text = static_cast<char *>(cv_uac_heap_alloc(heap, a + b + 1, 1));
    if (!text) return nullptr;
    std::memcpy(text, first, a);
    std::memcpy(text + a, second, b + 1);
    return text;
}

/* Counts or stores the XML text; `out` is null while counting. */
class xml_writer {
public:
    explicit xml_writer(char *out) : out_(out) {}
    void put(std::string_view text) {
        if (out_) std::memcpy(out_ + length_, text.data(), text.size());
        length_ += text.size();
    }
    std::size_t length() const { return length_; }

private:
    char *out_;
    std::size_t length_ = 0;
};

struct layout {
    std::string_view indent;
    std::string_view unit;
    bool header;
    const std::int32_t *order;
    const bool *in_order;
};

void put_indent(xml_writer &out, const layout &form, std::int32_t depth) {
    if (form.header) out.put(form.unit);
    out.put(form.indent);
    for (std::int32_t i = 0; i < depth; ++i) out.put(form.unit);
}

bool write_node(xml_writer &out, const layout &form, const tree_node &node, std::int32_t depth);

void write_child(xml_writer &out, const layout &form, const tree_node &child, std::int32_t depth) {
    const std::string_view name = parse_xml_tag_name(child.tag);
    put_indent(out, form, depth);
    out.put("<");
    out.put(name);
    out.put(">");
    if (!child.text) out.put("\n");
    const bool comment_line = write_node(out, form, child, depth + 1);
    if (!child.text || comment_line) put_indent(out, form, depth);
    out.put("</");
    out.put(name);
    out.put(">");
    if (child.comment && !comment_line) {
        out.put(" <!-- ");
        out.put(child.comment);
        out.put(" -->");
    }
    out.put("\n");
}

/* Writes what is inside `node`'s element; true when its comment went on a
 * line of its own. */
bool write_node(xml_writer &out, const layout &form, const tree_node &node, std::int32_t depth) {
    if (node.text) out.put(node.text);
    const bool comment_line = node.comment && node.first_child;
    if (comment_line) {
        put_indent(out, form, depth);
        out.put("<!-- ");
        out.put(node.comment);
        out.put(" -->\n\n");
    }
    for (const std::int32_t *tag = form.order; *tag != PARSE_XML_END; ++tag)
        if (const tree_node *child = child_with_tag(&node, *tag))
            write_child(out, form, *child, depth);
    // Children the caller's order leaves out are still written, in the
    // order they were added.
    for (const tree_node *child = node.first_child; child; child = child->next_sibling)
        if (!form.in_order[child->tag]) write_child(out, form, *child, depth);
    return comment_line;
}

void write_document(xml_writer &out, const layout &form, const cv_uac_xml_tree &tree,
                    std::string_view header, std::string_view footer,
                    const char *const *extra_texts) {
    if (!header.empty()) {
        out.put(form.indent);
        out.put(header);
        out.put("\n");
    }
    (void)write_node(out, form, tree.root, 0);
    for (const char *const *extra = extra_texts; extra && *extra; ++extra) out.put(*extra);
    if (!footer.empty()) {
        out.put(form.indent);
        out.put(footer);
        out.put("\n");
    }
}

bool climbs(const std::int32_t *path) {
    for (; *path != PARSE_XML_END; ++path)
        if (*path == PARSE_XML_TAG_Move_Up_to_Parent) return true;
    return false;
}

/* Gathers the options of `object` that serialization keeps into `tree`. */
cv_status gather(cv_uac_config_object *object, cv_uac_generic_entry *form, std::int32_t all,
                 cv_uac_serialize_formatter formatter, void *formatter_context,
                 cv_uac_xml_tree *tree) {
    char text[CV_UAC_VALUE_TEXT_SIZE];
    char comment[kCommentSize];
    for (cv_uac_generic_entry *entry = form; entry->type != CV_UAC_TYPE_END; ++entry) {
        if (!entry->is_set && !all) continue;
        if (cv_wildcard_match(CV_UAC_INTERNAL_OPTION_PATTERN, entry->name) == 0) continue;
        const std::int32_t *path = object->header.descriptor->xml_path_by_name(object, entry->name);
        if (!path || path[0] == PARSE_XML_END || climbs(path)) continue;
        text[0] = '\0';
        comment[0] = '\0';
        if (formatter) {
            if (formatter(entry, text, sizeof text, comment, sizeof comment, formatter_context) ==
                -1)
                continue;
            if (cv_status status = cv_uac_xml_tree_add(tree, path, text, comment); status != CV_OK)
                return status;
            continue;
        }
        // The value is written whole, however long; one that cannot be
        // written fails the serialization rather than vanish from it.
        char *written = nullptr;
        cv_status status =
            cv_uac_type_write_alloc(entry->type, entry->value, entry->lookup, &written);
        if (status == CV_OK) status = cv_uac_xml_tree_add(tree, path, written, nullptr);
        cv_uac_free(written);
        if (status != CV_OK) return status;
    }
    return CV_OK;
}

}  // namespace

cv_status cv_uac_xml_tree_create(cv_uac_heap *heap, cv_uac_xml_tree **tree) {
    if (!tree) return CV_E_INVALID;
    *tree = nullptr;
    if (!heap) return CV_E_INVALID;
    auto *made = static_cast<cv_uac_xml_tree *>(
        cv_uac_heap_calloc(heap, sizeof(cv_uac_xml_tree), alignof(cv_uac_xml_tree)));
    if (!made) return CV_E_NO_MEMORY;
    made->heap = heap;
    made->root.tag = PARSE_XML_END;
    made->order[0] = PARSE_XML_END;
    *tree = made;
    return CV_OK;
}

cv_status cv_uac_xml_tree_add(cv_uac_xml_tree *tree, const std::int32_t *path, const char *text,
                              const char *comment) {
    if (!tree || !path || path[0] == PARSE_XML_END) return CV_E_INVALID;
    for (const std::int32_t *tag = path; *tag != PARSE_XML_END; ++tag)
        if (*tag <= PARSE_XML_TAG_Move_Up_to_Parent || *tag >= PARSE_XML_TAG_COUNT)
            return CV_E_INVALID;
    tree_node *node = &tree->root;
    for (const std::int32_t *tag = path; *tag != PARSE_XML_END; ++tag) {
        if (!tree->seen[*tag]) {
            tree->seen[*tag] = true;
            tree->order[tree->order_count++] = *tag;
            tree->order[tree->order_count] = PARSE_XML_END;
        }
        tree_node *child = child_with_tag(node, *tag);
        if (!child) {
            child = static_cast<tree_node *>(
                cv_uac_heap_calloc(tree->heap, sizeof(tree_node), alignof(tree_node)));
            if (!child) return CV_E_NO_MEMORY;
            child->tag = *tag;
            if (node->last_child)
                node->last_child->next_sibling = child;
            else
                node->first_child = child;
            node->last_child = child;
        }
        node = child;
    }
    if (text) {
        const char *stored = node->text ? joined(tree->heap, node->text, text)
                                        : cv_uac_heap_strdup(tree->heap, text);
        if (!stored) return CV_E_NO_MEMORY;
        node->text = stored;
    }
    if (comment && comment[0]) {
        node->comment = cv_uac_heap_strdup(tree->heap, comment);
        if (!node->comment) return CV_E_NO_MEMORY;
    }
    return CV_OK;
}

std::int32_t cv_uac_xml_tree_empty(const cv_uac_xml_tree *tree) {
    return !tree || !tree->root.first_child ? 1 : 0;
}

const std::int32_t *cv_uac_xml_tree_tag_order(const cv_uac_xml_tree *tree) {
    return tree ? tree->order : nullptr;
}

cv_status serialize_tree_to_xml(const cv_uac_xml_tree *tree, const char *indent, const char *unit,
                                const char *header, const char *footer,
                                const std::int32_t *tag_order, const char *const *extra_texts,
                                char **xml) {
    if (!xml) return CV_E_INVALID;
    *xml = nullptr;
    if (!tree) return CV_E_INVALID;
    if (!tag_order) tag_order = tree->order;
    bool in_order[PARSE_XML_TAG_COUNT] = {};
    for (const std::int32_t *tag = tag_order; *tag != PARSE_XML_END; ++tag)
        if (*tag >= 0 && *tag < PARSE_XML_TAG_COUNT) in_order[*tag] = true;
    const std::string_view header_text = header ? header : "";
    const std::string_view footer_text = footer ? footer : "";
    const layout form{indent ? indent : "", unit ? unit : "", !header_text.empty(), tag_order,
                      in_order};

    xml_writer measure(nullptr);
    write_document(measure, form, *tree, header_text, footer_text, extra_texts);
    auto *buffer = static_cast<char *>(CV_UAC_MALLOC(measure.length() + 1, kBufferLabel));
    if (!buffer) return CV_E_NO_MEMORY;
    xml_writer write(buffer);
    write_document(write, form, *tree, header_text, footer_text, extra_texts);
    buffer[write.length()] = '\0';
    *xml = buffer;
    return CV_OK;
}

namespace cv_uac_config_impl {

cv_status base_serialize(cv_uac_config_object *object, const char *indent, const char *unit,
                         std::int32_t all, cv_uac_serialize_formatter formatter,
                         void *formatter_context, char **xml) {
    if (!xml) return CV_E_INVALID;
    *xml = nullptr;
    if (!object || !object->header.descriptor) return CV_E_INVALID;
    cv_uac_generic_entry *form = object->header.descriptor->get_generic_form(object, nullptr);
    if (!form) return CV_E_NO_MEMORY;
    cv_uac_heap *heap = nullptr;
    cv_status status = cv_uac_heap_create(&heap, nullptr, nullptr);
    if (status != CV_OK) return status;
    cv_uac_xml_tree *tree = nullptr;
    status = cv_uac_xml_tree_create(heap, &tree);
    if (status == CV_OK) status = gather(object, form, all, formatter, formatter_context, tree);
    if (status == CV_OK) {
        if (cv_uac_xml_tree_empty(tree)) {
            *xml = CV_UAC_STRDUP("", "Empty XML Tree");
            if (!*xml) status = CV_E_NO_MEMORY;
        } else {
            status = serialize_tree_to_xml(tree, indent, unit, "", "",
                                           cv_uac_xml_tree_tag_order(tree), nullptr, xml);
        }
    }
    (void)cv_uac_heap_release(&heap);
    return status;
}

cv_status base_duplicate(cv_uac_config_object *object, cv_uac_config_object **copy) {
    if (!copy) return CV_E_INVALID;
    *copy = nullptr;
    if (!object || !object->header.descriptor) return CV_E_INVALID;
    cv_uac_class *cls = object->header.descriptor;
    char *xml = nullptr;
    if (cv_status status = cls->serialize(object, "", "", 0, nullptr, nullptr, &xml);
        status != CV_OK)
        return status;

    // The copy is read back from the text as a configuration of its own,
    // which it keeps; the wrapping never cuts the text.
    const cv_status status = cv_uac_config_from_fragment(cls, xml, copy);
    cv_uac_free(xml);
    return status;
}

}  // namespace cv_uac_config_impl
