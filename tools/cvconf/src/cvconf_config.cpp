// Loading the configuration as the shell does, and describing where a value
// came from.
//
// An origin is found from the element a value was read from: its document
// names the file (the set keeps each file's canonical path), libxml2 keeps
// its line, and the nearest enclosing entry (a user, group or default entry,
// the server element, a trunk or a logging setting) names the entry.
#include <cstring>

#include "cvconf.h"
#include "cvconf_json.h"
#include "cvplatform/cv_error.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_group_provider.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/cv_uac_types.h"
#include "uac/parse_xml.h"

namespace {

/* Bytes of an error text from cv_error_to_string. */
constexpr std::size_t kErrorTextSize = 1024;

std::string error_text(cv_status status) {
    char text[kErrorTextSize];
    (void)cv_error_to_string(status, text, sizeof text);
    return text;
}

std::int32_t tag_of(const xmlNode *node) {
    return node && node->type == XML_ELEMENT_NODE
               ? parse_xml_tag_index(reinterpret_cast<const char *>(node->name))
               : PARSE_XML_UNKNOWN_TAG;
}

/* The trimmed text of `element`'s first child element of tag `tag`. */
std::string child_text(const xmlNode *element, std::int32_t tag) {
    for (const xmlNode *child = element ? element->children : nullptr; child; child = child->next) {
        if (tag_of(child) != tag) continue;
        xmlChar *content = xmlNodeGetContent(child);
        std::string text = content ? reinterpret_cast<const char *>(content) : "";
        xmlFree(content);
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        std::size_t begin = 0, end = text.size();
        while (begin < end && blank(text[begin])) ++begin;
        while (end > begin && blank(text[end - 1])) --end;
        return text.substr(begin, end - begin);
    }
    return "";
}

bool is_root(const xmlNode *node) {
    return node && node->doc && xmlDocGetRootElement(node->doc) == node;
}

/* The label of the nearest entry around `element`, or "". */
std::string entry_label(const xmlNode *element) {
    for (const xmlNode *node = element; node && node->type == XML_ELEMENT_NODE;
         node = node->parent) {
        const std::int32_t tag = tag_of(node);
        const std::int32_t parent = tag_of(node->parent);
        if (tag == PARSE_XML_TAG_user && parent == PARSE_XML_TAG_users)
            return "user " + cvconf_entry_name(node);
        if (tag == PARSE_XML_TAG_group && parent == PARSE_XML_TAG_groups)
            return "group " + cvconf_entry_name(node);
        if (tag == PARSE_XML_TAG_default && is_root(node->parent)) return "default";
        if (tag == PARSE_XML_TAG_server && is_root(node->parent)) return "server";
        if (tag == PARSE_XML_TAG_trunk && parent == PARSE_XML_TAG_trunks)
            return "trunk " + child_text(node, PARSE_XML_TAG_id);
        if (tag == PARSE_XML_TAG_log_setting && parent == PARSE_XML_TAG_logging)
            return "logging " + child_text(node, PARSE_XML_TAG_classes);
        if (tag == PARSE_XML_TAG_realm && parent == PARSE_XML_TAG_realms)
            return "realm " + cvconf_entry_name(node);
    }
    return "";
}

}  // namespace

cvconf_config::~cvconf_config() {
    (void)cv_uac_release_conf_file_set(set);
    if (started_) cv_uac_deinit();
}

int cvconf_config::load(const std::string &given, std::string *error) {
    char found[CV_PATH_SIZE];
    if (given.empty()) {
        char exe[CV_PATH_SIZE];
        if (cv_path_get_exe_path(exe, sizeof exe) < 0) {
            *error = "cannot find the program's own path to look for corvane.conf beside it";
            return CVCONF_EXIT_ERROR;
        }
        if (cv_uac_find_conf_file(exe, found, sizeof found) != CV_OK) {
            *error = std::string("no corvane.conf or conf.d folder near ") + exe +
                     " (name one with --conf)";
            return CVCONF_EXIT_ERROR;
        }
        path = found;
    } else {
        if (given[0] == '<') {
            *error = "--conf takes a file name, not XML text";
            return CVCONF_EXIT_ERROR;
        }
        if (cv_path_canonicalize(given.c_str(), found, sizeof found) < 0) {
            *error = cvconf_display(given) + ": not a usable path";
            return CVCONF_EXIT_ERROR;
        }
        path = found;
    }
    if (cv_uac_init(cv_uac_register_group_providers) != CV_OK) {
        *error = "the configuration framework could not be started";
        return CVCONF_EXIT_ERROR;
    }
    started_ = true;

    // A main file that is there but cannot be opened says why; one that
    // cannot be parsed leaves the load without a set.
    if (cv_file_exists(path.c_str())) {
        cv_file_handle handle = CV_FILE_INVALID;
        const cv_status opened = cv_file_open(path.c_str(), &handle, CV_FILE_READ, 0);
        (void)cv_file_close(&handle);
        if (opened != CV_OK) {
            *error = cvconf_display(path) + ": cannot be read (" + error_text(opened) + ")";
            return CVCONF_EXIT_ERROR;
        }
    }
    set = cv_uac_load_conf_file(path.c_str(), 0);
    if (!set) {
        *error = cvconf_display(path) +
                 (cv_file_exists(path.c_str())
                      ? ": not a well-formed configuration file"
                      : ": not found, and no file of its conf.d folder could be read");
        return CVCONF_EXIT_ERROR;
    }
    if (cv_uac_get_conf_version(set) != 2) {
        *error = cvconf_display(path) + ": not a version 2 configuration (<CONF version=\"2\">)";
        return CVCONF_EXIT_ERROR;
    }
    if (cv_status status = cv_uac_select_master_conf_file_set(set); status != CV_OK) {
        *error = "the group entries could not be indexed (" + error_text(status) + ")";
        return CVCONF_EXIT_ERROR;
    }
    return CVCONF_EXIT_OK;
}

std::string cvconf_entry_name(const xmlNode *element) {
    return child_text(element, PARSE_XML_TAG_name);
}

cvconf_origin cvconf_origin_of(const cv_uac_conf_set *set, const xmlNode *element) {
    cvconf_origin origin;
    if (!element) return origin;
    for (std::int32_t i = 0; set && i < set->count; ++i)
        if (set->documents[i] == element->doc)
            origin.file = set->paths[i] ? set->paths[i] : "(text)";
    if (origin.file.empty()) origin.file = "(unknown file)";
    origin.line = xmlGetLineNo(element);
    origin.entry = entry_label(element);
    return origin;
}

std::string cvconf_origin_text(const cvconf_origin &origin) {
    if (origin.file.empty()) return "(default)";
    std::string text = cvconf_display(origin.file) + ":" + std::to_string(origin.line) + ":";
    if (!origin.entry.empty()) {
        text += ' ';
        text += cvconf_display(origin.entry);
    }
    return text;
}

std::string cvconf_display(std::string_view text) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = cvconf_utf8_length(text, i);
        // C0 and C1 control characters and DEL can drive a terminal.
        const bool control =
            c < 0x20 || c == 0x7F ||
            (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
        if (length == 0 || control) {
            for (std::size_t j = 0; j < (length ? length : 1); ++j) {
                const auto b = static_cast<unsigned char>(text[i + j]);
                out += "\\x";
                out += kHex[b >> 4];
                out += kHex[b & 15];
            }
            i += length ? length : 1;
            continue;
        }
        out.append(text.substr(i, length));
        i += length;
    }
    return out;
}

cv_status cvconf_options_of(cv_uac_config_object *object, const cv_uac_conf_set *set,
                            std::vector<cvconf_option> *options) {
    options->clear();
    cv_uac_generic_entry *form = object->header.descriptor->get_generic_form(object, nullptr);
    if (!form) return CV_E_NO_MEMORY;
    for (const cv_uac_generic_entry *entry = form; entry->type != CV_UAC_TYPE_END; ++entry) {
        cvconf_option option;
        option.key = entry->name;
        option.origin = cvconf_origin_of(set, entry->source);
        if (entry->type == CV_UAC_TYPE_STRING_LIST) {
            // A list is shown item by item; its type writes it as XML.
            option.is_list = true;
            const char *list = *static_cast<const char *const *>(entry->value);
            option.null_list = list == nullptr;
            for (const char *item = cv_uac_string_list_first(list); item;
                 item = cv_uac_string_list_next(item))
                option.items.emplace_back(item);
        } else {
            char *text = nullptr;
            if (cv_status status =
                    cv_uac_type_write_alloc(entry->type, entry->value, entry->lookup, &text);
                status != CV_OK)
                return status;
            option.value = text;
            cv_uac_free(text);
        }
        options->push_back(std::move(option));
    }
    return CV_OK;
}

void cvconf_print_option(std::FILE *out, const cvconf_option &option, bool origin) {
    std::string line;
    if (origin) line = cvconf_origin_text(option.origin) + "\t";
    line += cvconf_display(option.key) + " =";
    if (!option.is_list) {
        line += ' ';
        line += cvconf_display(option.value);
    } else if (option.null_list) {
        line += std::string(" ") + CV_UAC_NULL;
    }
    line += "\n";
    for (const std::string &item : option.items) {
        line += "    ";
        line += cvconf_display(item);
        line += '\n';
    }
    std::fputs(line.c_str(), out);
}

int cvconf_fail(int status, const std::string &message) {
    std::fprintf(stderr, "cvconf: %s\n", message.c_str());
    return status;
}
