// The `server` class: its descriptor, its loader and build step, the rule
// that gives db_port the default of the database type, the checks of its
// values, and its serializer.
//
// A server object is read from every `<server>` element of a configuration
// at once, in the set's search order, so an option's value comes from the
// best of them by fitness and, on a tie, from the first: a conf.d file's
// before the main file's.  Its three lists are built from the same
// configuration by the list builders of the server-side classes.
//
// The text a server serializes to is the content of a `<server>` element,
// and it is read back as one: wrapped as
// "<CONF version=\"2\"><server>%s</server></CONF>" and loaded like the
// server settings of a configuration, so that the lists, which are found
// below `<server>`, come back with the options.  A duplicate is made that
// way.
//
// The serializer writes each list as a section of its own after the
// options, whenever that list is not empty.  The rule options of the
// server (rproxy_rules_rule_*) are read from the first rule element, the
// same element the first rule of the rule list is read from; written apart,
// reading the text back would find one rule more.  So the first rule goes
// into the `<rule>` element the options are written in, less the values
// the options already give, and the section holds the other rules.  The
// text is built in a buffer that starts at 65536 bytes and grows as the
// text needs: nothing is ever cut.
#include <cstring>
#include <string>
#include <string_view>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_server_classes.h"

namespace {

using namespace cv_uac_config_impl;

constexpr std::size_t row_of(std::string_view key) {
    for (std::size_t i = 0; i < cv_uac_server_option_count; ++i)
        if (key == cv_uac_server_catalogue[i].key) return i;
    return cv_uac_server_option_count;
}
constexpr std::size_t kDbPortRow = row_of("db_port");
static_assert(kDbPortRow < cv_uac_server_option_count, "the server catalogue has db_port");

/* The `<server>` elements at a configuration's roots. */
constexpr std::int32_t kServerPath[] = {PARSE_XML_TAG_server, PARSE_XML_END};

/* db_type's value for the sharded stores (shardkv and sharddb), and the
 * db_port texts the rule sets. */
constexpr std::int32_t kDbTypeSharded = 1;
constexpr const char *kShardedPortText = "shardkv default";

/* The verbosity from which the db_port rule says what it does. */
constexpr int kDbPortLineVerbosity = 2;

/* The base level of every check, and the strictness from which they run. */
constexpr std::int32_t kCheckLevel = 3;
constexpr std::int32_t kChecksFrom = 0;

/* What the keys of the server's rule options begin with; the rest of each
 * key is the rule class's key for the same element. */
constexpr std::string_view kRuleOptionPrefix = "rproxy_rules_rule_";

constexpr const char *kScratchLabel = "cv_uac_server_serialize_to_xml";
constexpr const char *kResultLabel = "Server option data";

cv_uac_server *as_server(cv_uac_config_object *object) {
    return reinterpret_cast<cv_uac_server *>(object);
}

template <typename T>
cv_uac_config_object *object_of(T *item) {
    return reinterpret_cast<cv_uac_config_object *>(item);
}

template <typename T>
void release_list(T *&head) {
    cv_uac_config_release(object_of(head));
    head = nullptr;
}

// ---- db_port ------------------------------------------------------------

/* db_port counts as given when the configuration holds it or a caller set
 * it.  The value the rule sets is derived, not given: the rule clears the
 * is-set flag after setting it, so the value follows db_type on every
 * later change and serialization leaves it out unless asked for all. */
bool db_port_given(cv_uac_config_object *object) {
    if (*source_word(object, kDbPortRow)) return true;
    return object->generic_form && object->generic_form[kDbPortRow].is_set;
}

cv_status server_on_change(cv_uac_config_object *object) {
    if (db_port_given(object)) return CV_OK;
    const bool sharded = as_server(object)->db_type == kDbTypeSharded;
    if (sharded && cv_log_verbosity >= kDbPortLineVerbosity)
        cv_log_debug("%s", CV_UAC_SERVER_DB_PORT_AUTOMATIC);
    const cv_status status =
        cv_uac_config_set_by_name(object, "db_port", sharded ? kShardedPortText : CV_UAC_NULL,
                                  &object->warnings);
    if (object->generic_form) object->generic_form[kDbPortRow].is_set = 0;
    return status;
}

// ---- validate -----------------------------------------------------------

std::int32_t level_of(std::int32_t base, std::int32_t strictness) {
    const std::int64_t level = std::int64_t{base} - strictness;
    if (level > INT32_MAX) return INT32_MAX;
    if (level < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(level);
}

cv_status server_validate(cv_uac_config_object *object, cv_uac_warning **warnings,
                          std::int32_t strictness) {
    if (!object) return CV_E_INVALID;
    const cv_uac_server &server = *as_server(object);
    cv_status status = CV_OK;
    if (strictness < kChecksFrom) return status;
    const std::int32_t level = level_of(kCheckLevel, strictness);
    if (server.http_port == server.https_port)
        report_setting(level, &status, warnings, "HTTP and HTTPS port are the same (%u)",
                       server.http_port);
    if (server.files_prefetch_count == 0)
        report_setting(level, &status, warnings, "%s",
                       "files_prefetch_count must be greater than 0");
    if (server.files_max_count == 0)
        report_setting(level, &status, warnings, "%s", "files_max_count must be greater than 0");
    return status;
}

// ---- build --------------------------------------------------------------

cv_status server_build(cv_uac_config_object *object, const cv_uac_load_request *request) {
    cv_uac_server *server = as_server(object);
    server->build_word = 0;
    release_list(server->providers);
    release_list(server->processes);
    release_list(server->rules);
    const cv_uac_conf_set *set = request ? request->set : nullptr;
    if (!set) return CV_OK;
    // A list that cannot be read whole keeps what was read; the object is
    // still usable.
    (void)cv_uac_get_provider_list(set, object->variables, nullptr, &server->providers);
    (void)cv_uac_get_process_list(set, object->variables, &server->processes);
    (void)cv_uac_get_rproxy_rules(set, object->variables, &server->rules);
    return CV_OK;
}

void server_release(cv_uac_config_object *object) {
    cv_uac_server *server = as_server(object);
    release_list(server->providers);
    release_list(server->processes);
    release_list(server->rules);
}

// ---- serialize ----------------------------------------------------------

/* A text that grows as it needs, from the labelled allocator; a failed
 * growth marks it failed and every later append does nothing. */
class text_buffer {
public:
    text_buffer() : data_(static_cast<char *>(CV_UAC_MALLOC(CV_UAC_SERVER_SERIALIZE_BUFFER_SIZE,
                                                            kScratchLabel))) {
        capacity_ = data_ ? CV_UAC_SERVER_SERIALIZE_BUFFER_SIZE : 0;
        if (data_) data_[0] = '\0';
    }
    ~text_buffer() { cv_uac_free(data_); }
    text_buffer(const text_buffer &) = delete;
    text_buffer &operator=(const text_buffer &) = delete;

    bool ok() const { return data_ != nullptr; }

    template <typename... Parts>
    void append(Parts... parts) {
        (put(std::string_view(parts)), ...);
    }

    /* An owned copy of the text, or null. */
    char *release_copy() const {
        return ok() ? CV_UAC_STRDUP(data_, kResultLabel) : nullptr;
    }

private:
    void put(std::string_view part) {
        if (!data_) return;
        if (length_ + part.size() + 1 > capacity_ && !grow(length_ + part.size() + 1)) return;
        std::memcpy(data_ + length_, part.data(), part.size());
        length_ += part.size();
        data_[length_] = '\0';
    }
    bool grow(std::size_t needed) {
        std::size_t capacity = capacity_;
        while (capacity < needed) capacity *= 2;
        auto *grown = static_cast<char *>(CV_UAC_MALLOC(capacity, kScratchLabel));
        if (grown) std::memcpy(grown, data_, length_ + 1);
        cv_uac_free(data_);
        data_ = grown;
        capacity_ = grown ? capacity : 0;
        length_ = grown ? length_ : 0;
        return grown != nullptr;
    }

    char *data_;
    std::size_t capacity_ = 0;
    std::size_t length_ = 0;
};

/* Owns a text the framework allocated. */
struct owned_text {
    char *text = nullptr;
    ~owned_text() { cv_uac_free(text); }
};

struct serialize_args {
    const char *unit;
    std::int32_t all;
    cv_uac_serialize_formatter formatter;
    void *formatter_context;
};

/* `item`'s options as its class writes them, each line led by `indent`. */
cv_status item_text(cv_uac_config_object *item, const char *indent, const serialize_args &args,
                    cv_uac_serialize_formatter formatter, void *formatter_context,
                    owned_text *text) {
    return item->header.descriptor->serialize(item, indent, args.unit, args.all, formatter,
                                              formatter_context, &text->text);
}

/* Appends each member of the list at `head` as one `<tag>` element: its
 * open and close lines led by `lead`, its options by `inner`. */
template <typename Item>
cv_status append_members(text_buffer &out, Item *head, const std::string &lead, const char *tag,
                         const char *inner, const serialize_args &args) {
    for (Item *item = head; item; item = item->next) {
        owned_text text;
        if (cv_status status = item_text(object_of(item), inner, args, args.formatter,
                                         args.formatter_context, &text);
            status != CV_OK)
            return status;
        out.append(lead, "<", tag, ">\n", text.text, lead, "</", tag, ">\n");
    }
    return CV_OK;
}

/* `prefix` followed by `units` copies of `unit`, as the base serializer
 * indents a line `units` levels down; null out of memory. */
char *indent_of(const char *prefix, const char *unit, int units) {
    const std::size_t prefix_length = std::strlen(prefix);
    const std::size_t unit_length = std::strlen(unit);
    const std::size_t size = prefix_length + unit_length * static_cast<std::size_t>(units) + 1;
    auto *text = static_cast<char *>(CV_UAC_MALLOC(size, kScratchLabel));
    if (!text) return nullptr;
    std::memcpy(text, prefix, prefix_length);
    for (int i = 0; i < units; ++i)
        std::memcpy(text + prefix_length + unit_length * static_cast<std::size_t>(i), unit,
                    unit_length);
    text[size - 1] = '\0';
    return text;
}

/* Where the line closing the rule element of the server's rule options
 * starts in `text` (the options as written, the close `indent` two levels
 * down), or npos.  Values are escaped, so no value holds that line. */
std::size_t rule_close_line(std::string_view text, std::string_view indent) {
    constexpr std::string_view kClose = "</rule>\n";
    for (std::size_t line = 0; line < text.size();) {
        const std::string_view rest = text.substr(line);
        if (rest.starts_with(indent) && rest.substr(indent.size()).starts_with(kClose))
            return line;
        const std::size_t end = text.find('\n', line);
        if (end == std::string_view::npos) break;
        line = end + 1;
    }
    return std::string_view::npos;
}

/* The first rule leaves out each value the server's rule options write. */
struct first_rule_filter {
    cv_uac_config_object *server;
    const serialize_args *args;
    cv_status status = CV_OK; /* a value that could not be written */
};

/* Whether the server writes its rule option for `key` (a key of the rule
 * class). */
bool server_writes_rule_option(cv_uac_config_object *server, const serialize_args &args,
                               const char *key) {
    char name[CV_UAC_VALUE_TEXT_SIZE];
    std::size_t cursor = 0;
    if (cv_str_append_many(name, sizeof name, &cursor, kRuleOptionPrefix.data(), key,
                           static_cast<const char *>(nullptr)) != CV_OK)
        return false;
    const cv_uac_generic_entry *entry = entry_by_name(server, name, nullptr);
    return entry && (entry->is_set || args.all);
}

std::int32_t first_rule_formatter(const cv_uac_generic_entry *entry, char *text,
                                  std::size_t text_capacity, char *comment,
                                  std::size_t comment_capacity, void *context) {
    auto *filter = static_cast<first_rule_filter *>(context);
    if (server_writes_rule_option(filter->server, *filter->args, entry->name)) return -1;
    if (filter->args->formatter)
        return filter->args->formatter(entry, text, text_capacity, comment, comment_capacity,
                                       filter->args->formatter_context);
    // A value too long for the formatter's buffer fails the whole text.
    if (cv_status status =
            cv_uac_type_write(entry->type, entry->value, text, text_capacity, entry->lookup);
        status != CV_OK) {
        filter->status = status;
        return -1;
    }
    return 0;
}

}  // namespace

cv_status cv_uac_server_serialize_to_xml(cv_uac_config_object *object, const char *indent,
                                         const char *unit, std::int32_t all,
                                         cv_uac_serialize_formatter formatter,
                                         void *formatter_context, char **xml) {
    if (!xml) return CV_E_INVALID;
    *xml = nullptr;
    if (!object) return CV_E_INVALID;
    const char *prefix = indent ? indent : "";
    unit = unit ? unit : "";
    const serialize_args args{unit, all, formatter, formatter_context};
    cv_uac_server *server = as_server(object);

    owned_text options;
    if (cv_status status = base_serialize(object, prefix, unit, all, formatter,
                                          formatter_context, &options.text);
        status != CV_OK)
        return status;
    if (!server->providers && !server->processes && !server->rules) {
        *xml = options.text;
        options.text = nullptr;
        return CV_OK;
    }

    text_buffer out;
    owned_text two{indent_of(prefix, unit, 2)};
    owned_text three{indent_of(prefix, unit, 3)};
    if (!out.ok() || !two.text || !three.text) return CV_E_NO_MEMORY;

    // The first rule joins the element of the server's rule options, when
    // they are written: its values go in before that element's close.
    const std::string_view written(options.text);
    const std::size_t close =
        server->rules ? rule_close_line(written, two.text) : std::string_view::npos;
    const bool spliced = close != std::string_view::npos;
    if (spliced) {
        // Only the rule's own set values join the element: under `all` the
        // server's options already write every value the element has, and
        // what the rule alone has (hosts, balancing) has no default.
        first_rule_filter filter{object, &args};
        const serialize_args own{unit, 0, formatter, formatter_context};
        owned_text first;
        if (cv_status status = item_text(object_of(server->rules), three.text, own,
                                         first_rule_formatter, &filter, &first);
            status != CV_OK)
            return status;
        if (filter.status != CV_OK) return filter.status;
        out.append(written.substr(0, close), first.text, written.substr(close));
    } else {
        out.append(written);
    }

    const std::string one_down = std::string(prefix) + unit;
    const std::string two_down = one_down + unit;
    if (server->providers) {
        out.append(prefix, "<authentication>\n");
        if (cv_status status =
                append_members(out, server->providers, one_down, "provider", two.text, args);
            status != CV_OK)
            return status;
        out.append(prefix, "</authentication>\n");
    }
    if (server->processes) {
        out.append(prefix, "<initd>\n", one_down, "<processes>\n");
        if (cv_status status =
                append_members(out, server->processes, two_down, "process", three.text, args);
            status != CV_OK)
            return status;
        out.append(one_down, "</processes>\n", prefix, "</initd>\n");
    }
    cv_uac_rproxy *rest = spliced ? server->rules->next : server->rules;
    if (rest) {
        out.append(prefix, "<rproxy>\n", one_down, "<rules>\n");
        if (cv_status status = append_members(out, rest, two_down, "rule", three.text, args);
            status != CV_OK)
            return status;
        out.append(one_down, "</rules>\n", prefix, "</rproxy>\n");
    }
    if (!out.ok()) return CV_E_NO_MEMORY;
    *xml = out.release_copy();
    return *xml ? CV_OK : CV_E_NO_MEMORY;
}

namespace {

cv_status server_duplicate(cv_uac_config_object *object, cv_uac_config_object **copy) {
    if (!copy) return CV_E_INVALID;
    *copy = nullptr;
    if (!object) return CV_E_INVALID;
    char *xml = nullptr;
    if (cv_status status = cv_uac_server_serialize_to_xml(object, "", "", 0, nullptr, nullptr, &xml);
        status != CV_OK)
        return status;
    const cv_status status = cv_uac_server_from_fragment(&cv_uac_server_class, xml, copy);
    cv_uac_free(xml);
    return status;
}

}  // namespace

CV_UAC_DEFINE_CLASS(server, CV_UAC_SERVER_CLASS_FLAGS, cv_uac_base_class, nullptr, nullptr,
                    .serialize = cv_uac_server_serialize_to_xml, .validate = server_validate,
                    .duplicate = server_duplicate, .build = server_build,
                    .release_hook = server_release, .on_change = server_on_change);

cv_status cv_uac_server_from_fragment(cv_uac_class *cls, const char *fragment,
                                      cv_uac_config_object **object) {
    if (!object) return CV_E_INVALID;
    *object = nullptr;
    if (cls != &cv_uac_server_class || !fragment) return CV_E_INVALID;
    // The list builders search server/... from the roots, so the text is
    // read back as the content of a <server> element.
    cv_uac_conf_set *set = nullptr;
    if (cv_status status = cv_uac_config_impl::load_wrapped_fragment(
            "<CONF version=\"2\"><server>", fragment, "</server></CONF>", &set);
        status != CV_OK)
        return status;
    xmlNode **elements = cv_uac_find_nodes(set, kServerPath);
    cv_uac_server *server = nullptr;
    const cv_status loaded = cv_uac_load_server(set, elements, &server);
    cv_uac_free(elements);
    if (loaded != CV_OK) {
        (void)cv_uac_release_conf_file_set(set);
        return loaded;
    }
    // The object's source elements live in the set, so it keeps the set.
    server->object.own_set = set;
    *object = &server->object;
    return CV_OK;
}

cv_status cv_uac_load_server(const cv_uac_conf_set *set, xmlNode *const *elements,
                             cv_uac_server **server) {
    if (!server) return CV_E_INVALID;
    *server = nullptr;
    const cv_uac_load_request request{set, elements, nullptr, nullptr, 0};
    cv_uac_config_object *object = nullptr;
    const cv_status status = cv_uac_config_load(&cv_uac_server_class, &request, &object);
    *server = as_server(object);
    return status;
}

cv_uac_server *cv_uac_get_server_settings(const cv_uac_conf_set *set) {
    xmlNode **elements = cv_uac_find_nodes(set, kServerPath);
    cv_uac_server *server = nullptr;
    (void)cv_uac_load_server(set, elements, &server);
    cv_uac_free(elements);
    return server;
}
