// `set` and `unset`: one option's override in conf.d, written or removed
// through the framework's writer (cv_uac_config_write_conf_d_override),
// which lays the file out where the object's look-up reads it, writes it
// atomically and refuses unsafe folders.
//
// The object written for is the one the selector names, read as the
// framework reads it: a user's resolved settings, a group's or the
// defaults' entries, the server settings, a trunk by id, a logging setting
// by its classes.  Group and default entries are read by the user class;
// their overrides differ from a user's only in where the file puts them,
// so two descriptors below reuse the user class with that place (and a file
// name prefix of their own).  The value is checked by the option's type
// before anything is written; afterwards the configuration is read afresh
// and the option printed as `show --origin` prints it.
#include <cstring>

#include "cvconf.h"
#include "cvplatform/cv_error.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_user.h"
#include "uac/parse_xml.h"

namespace {

constexpr std::int32_t kGroupPath[] = {PARSE_XML_TAG_aaa,   PARSE_XML_TAG_realms,
                                       PARSE_XML_TAG_realm, PARSE_XML_TAG_groups,
                                       PARSE_XML_TAG_group, PARSE_XML_END};
constexpr const char *kGroupKeys[] = {"name", "?realm", nullptr};
constexpr std::int32_t kDefaultPath[] = {PARSE_XML_TAG_default, PARSE_XML_END};

cv_uac_class group_entry_class = {
    .parent = &cv_uac_user_class,
    .destroy = cv_uac_config_destroy,
    .class_init = cv_uac_class_init,
    .name = "group",
    .catalogue = cv_uac_user_catalogue,
    .option_count = cv_uac_user_option_count,
    .layout = CV_UAC_OBJECT_LAYOUT(cv_uac_user),
    .conf_d_path = kGroupPath,
    .conf_d_keys = kGroupKeys,
};

cv_uac_class default_entry_class = {
    .parent = &cv_uac_user_class,
    .destroy = cv_uac_config_destroy,
    .class_init = cv_uac_class_init,
    .name = "default",
    .catalogue = cv_uac_user_catalogue,
    .option_count = cv_uac_user_option_count,
    .layout = CV_UAC_OBJECT_LAYOUT(cv_uac_user),
    .conf_d_path = kDefaultPath,
};

/* Bytes of an error text from cv_error_to_string. */
constexpr std::size_t kErrorTextSize = 1024;

std::string error_text(cv_status status) {
    char text[kErrorTextSize];
    (void)cv_error_to_string(status, text, sizeof text);
    return text;
}

/* What `set` and `unset` act on. */
struct selector {
    std::string kind;    /* user, group, default, server, trunk, logging */
    std::string operand; /* the name, id or classes; "" for default and server */
    std::size_t words = 0;
};

bool parse_selector(const std::vector<std::string> &words, selector *out) {
    if (words.size() < 2) return false;
    out->kind = words[1];
    const bool takes_operand = out->kind == "user" || out->kind == "group" ||
                               out->kind == "trunk" || out->kind == "logging";
    if (!takes_operand && out->kind != "default" && out->kind != "server") return false;
    if (takes_operand) {
        if (words.size() < 3) return false;
        out->operand = words[2];
    }
    out->words = takes_operand ? 2 : 1;
    return true;
}

std::string describe(const selector &selected) {
    return selected.operand.empty() ? selected.kind
                                    : selected.kind + " " + cvconf_display(selected.operand);
}

/* A trunk id: decimal digits that fit 32 bits. */
bool parse_id(const std::string &text, std::uint32_t *id) {
    if (text.empty() || text.size() > 10) return false;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return false;
    *id = static_cast<std::uint32_t>(value);
    return true;
}

/* Every element of `path` across the set, null-terminated. */
std::vector<xmlNode *> elements_of(const cv_uac_conf_set *set, const std::int32_t *path) {
    std::vector<xmlNode *> found;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node(set->roots, &handle, path, nullptr,
                                                           nullptr, nullptr);
         node; node = parse_xml_get_next_matching_node(handle, nullptr))
        found.push_back(node);
    if (handle) (void)parse_xml_free_search_handle(handle);
    found.push_back(nullptr);
    return found;
}

cv_uac_config_object *load_from(cv_uac_class *cls, const cv_uac_conf_set *set,
                                std::vector<xmlNode *> &start) {
    const cv_uac_load_request request{set, start.size() > 1 ? start.data() : nullptr, nullptr,
                                      nullptr, 0};
    cv_uac_config_object *object = nullptr;
    if (cv_uac_config_load(cls, &request, &object) != CV_OK) return nullptr;
    return object;
}

/* A user's settings, made to carry the user's own name: an override for a
 * user who has no entry of its own becomes that user's entry.  A user whose
 * entry is a wildcard one (shared with other users) is refused: an entry of
 * its own would end that entry's hold on it. */
cv_uac_config_object *user_object(const cv_uac_conf_set *set, const std::string &name,
                                  std::string *error, int *refusal) {
    if (name.empty() || name.find_first_of("*?") != std::string::npos) {
        *error = cvconf_display(name) + " is not a user name";
        return nullptr;
    }
    xmlNode **entries = cv_uac_get_user_or_group(set, name.c_str());
    const xmlNode *own =
        entries && entries[0] &&
                parse_xml_tag_index(reinterpret_cast<const char *>(entries[0]->name)) ==
                    PARSE_XML_TAG_user
            ? entries[0]
            : nullptr;
    const std::string own_name = own ? cvconf_entry_name(own) : "";
    const cvconf_origin where = cvconf_origin_of(set, own);
    cv_uac_free(entries);
    if (own_name.find_first_of("*?") != std::string::npos) {
        *error = "user " + cvconf_display(name) + " takes the wildcard entry " +
                 cvconf_display(own_name) + " (" + cvconf_display(where.file) + ":" +
                 std::to_string(where.line) +
                 "), which an entry of its own would stop applying: add a user entry for " +
                 cvconf_display(name) + " first";
        *refusal = CVCONF_EXIT_FOUND;
        return nullptr;
    }
    cv_uac_user *user = cv_uac_get_user_settings(set, name.c_str());
    if (!user) {
        *error = "the settings of user " + cvconf_display(name) + " could not be built";
        return nullptr;
    }
    if (!own &&
        (cv_uac_config_set_by_name(&user->object, "name", name.c_str(), nullptr) != CV_OK ||
         cv_uac_config_set_by_name(&user->object, "realm", CV_UAC_NULL, nullptr) != CV_OK)) {
        cv_uac_config_release(&user->object);
        *error = cvconf_display(name) + " cannot be written as a user name";
        return nullptr;
    }
    return &user->object;
}

/* The object `selected` names in `set`, with one holder; null with the
 * reason in `*error` (empty when the framework could not build it) and, for
 * a refusal rather than a wrong argument, CVCONF_EXIT_FOUND in `*refusal`. */
cv_uac_config_object *object_of(const cv_uac_conf_set *set, const selector &selected,
                                std::string *error, int *refusal) {
    if (selected.kind == "user") return user_object(set, selected.operand, error, refusal);
    if (selected.kind == "group") {
        std::vector<xmlNode *> start;
        const cv_uac_master_group_set *groups = cv_uac_get_master_group_set();
        for (std::uint32_t i = 0; groups && i < groups->count; ++i)
            if (selected.operand == groups->entries[i].name)
                start.push_back(groups->entries[i].node);
        if (start.empty()) {
            *error = "no group entry is named " + cvconf_display(selected.operand);
            return nullptr;
        }
        start.push_back(nullptr);
        return load_from(&group_entry_class, set, start);
    }
    if (selected.kind == "default") {
        std::vector<xmlNode *> start = elements_of(set, kDefaultPath);
        return load_from(&default_entry_class, set, start);
    }
    if (selected.kind == "server")
        return reinterpret_cast<cv_uac_config_object *>(cv_uac_get_server_settings(set));
    if (selected.kind == "trunk") {
        std::uint32_t id = 0;
        if (!parse_id(selected.operand, &id)) {
            *error = cvconf_display(selected.operand) + " is not a trunk id";
            return nullptr;
        }
        cv_uac_trunk *trunk = nullptr;
        if (cv_uac_get_trunk(set, id, &trunk) != CV_OK) return nullptr;
        return reinterpret_cast<cv_uac_config_object *>(trunk);
    }
    // A logging setting is told apart by its classes: the override is for
    // exactly the classes named, whatever setting they fall under now.
    cv_uac_logging *logging = nullptr;
    if (cv_uac_get_logging(set, selected.operand.c_str(), nullptr, nullptr, &logging) != CV_OK)
        return nullptr;
    auto *object = reinterpret_cast<cv_uac_config_object *>(logging);
    if (cv_uac_config_set_by_name(object, "classes", selected.operand.c_str(), nullptr) != CV_OK) {
        cv_uac_config_release(object);
        *error = cvconf_display(selected.operand) + " cannot be written as logging classes";
        return nullptr;
    }
    return object;
}

/* Prints the option `key` of the object `selected` names, read afresh
 * after the override was written (or removed, with `unset`). */
int print_fresh(const cvconf_args &args, const selector &selected, const std::string &key,
                bool unset) {
    const std::string done = unset ? "removed, but " : "written, but ";
    cvconf_config config;
    std::string error;
    if (config.load(args.conf, &error) != CVCONF_EXIT_OK)
        return cvconf_fail(CVCONF_EXIT_ERROR, done + error);
    int refusal = CVCONF_EXIT_ERROR;
    cv_uac_config_object *object = object_of(config.set, selected, &error, &refusal);
    if (!object) return cvconf_fail(CVCONF_EXIT_ERROR, done + error);
    std::vector<cvconf_option> options;
    const cv_status status = cvconf_options_of(object, config.set, &options);
    cv_uac_config_release(object);
    if (status != CV_OK) return cvconf_fail(CVCONF_EXIT_ERROR, done + "the value cannot be shown");
    for (const cvconf_option &option : options)
        if (option.key == key) cvconf_print_option(stdout, option, true);
    return CVCONF_EXIT_OK;
}

}  // namespace

int cvconf_set(const cvconf_args &args, bool unset) {
    const std::vector<std::string> &words = args.words;
    selector selected;
    const std::size_t tail = unset ? 1 : 2;
    if (!parse_selector(words, &selected) || words.size() != 1 + selected.words + tail)
        return cvconf_fail(CVCONF_EXIT_ERROR,
                           std::string("usage: cvconf ") + (unset ? "unset" : "set") +
                               " (user NAME | group NAME | default | server | trunk ID | "
                               "logging CLASS) KEY" +
                               (unset ? "" : " VALUE"));
    const std::string &key = words[1 + selected.words];
    const std::string value = unset ? CV_UAC_NULL : words[2 + selected.words];

    {
        cvconf_config config;
        std::string error;
        if (config.load(args.conf, &error) != CVCONF_EXIT_OK)
            return cvconf_fail(CVCONF_EXIT_ERROR, error);
        int refusal = CVCONF_EXIT_ERROR;
        cv_uac_config_object *object = object_of(config.set, selected, &error, &refusal);
        if (!object)
            return cvconf_fail(refusal, error.empty() ? "the " + describe(selected) +
                                                            " settings could not be built"
                                                      : error);
        cv_uac_class *cls = object->header.descriptor;
        if (cls->index_by_name(object, key.c_str()) == 0) {
            cv_uac_config_release(object);
            return cvconf_fail(
                CVCONF_EXIT_ERROR,
                std::string(cls->name) + " objects have no option named " + cvconf_display(key));
        }
        const char *message = nullptr;
        const cv_status checked =
            cls->check_override_by_name(object, key.c_str(), value.c_str(), &message);
        if (checked != CV_OK) {
            cv_uac_config_release(object);
            return cvconf_fail(CVCONF_EXIT_FOUND,
                               cvconf_display(key) + ": " + cvconf_display(value) +
                                   " refused: " + (message ? message : error_text(checked)));
        }
        cv_uac_warning *warnings = nullptr;
        const cv_status written = cv_uac_config_write_conf_d_override(
            object, &config.set, &warnings, key.c_str(), value.c_str(), config.path.c_str());
        const std::string reason = warnings ? warnings->text : error_text(written);
        cv_uac_free_warnings(&warnings);
        cv_uac_config_release(object);
        if (written != CV_OK)
            return cvconf_fail(CVCONF_EXIT_FOUND, describe(selected) + " " + cvconf_display(key) +
                                                      ": not " + (unset ? "removed" : "written") +
                                                      ": " + cvconf_display(reason));
    }
    return print_fresh(args, selected, key, unset);
}
