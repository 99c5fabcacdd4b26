// Building a user's settings after its options are read, and checking them
// against each other.
//
// The build step gives the object what its options only point to: the user
// name and domain with the variables derived from them and those the
// entries define, the incoming and outgoing trunk, the docroot list and the
// logging object.  The findings of each attached object are carried over
// into the user's warning list, labelled with where they come from, oldest
// first, so the user's list reads in the order things were found.  Nothing
// here fails the load: every problem is logged or listed, and the step goes
// on with what it has.
//
// Validation is a table of checks, each a condition over the loaded values,
// its message and its base level; a check's finding is reported at its base
// level less the caller's strictness (report_setting), and nothing is ever
// changed.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"
#include "type_handlers/cv_uac_type_impl.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_user.h"
#include "uac/cv_uac_user_context.h"

namespace {

/* Bytes of the domain part of a user name, terminator included. */
constexpr std::size_t kDomainSize = 8192;

/* Longest `<variable>` definition that is read, in bytes. */
constexpr std::size_t kVariableDefinitionMax = 1022;

/* Bytes of the label put in front of a carried-over finding. */
constexpr std::size_t kLabelSize = 32;

/* The user name and realm when none is known, and how a finding names a
 * user without a `name`. */
constexpr const char *kUnknown = "Unknown";
constexpr const char *kNameless = "nameless";

/* The value of token_encryption_type that turns token encryption off, and
 * every value it may take: off or a key length in bytes. */
constexpr std::int32_t kTokenEncryptionOff = -1;
constexpr std::int32_t kTokenTypes[] = {kTokenEncryptionOff, 16, 24, 32};

/* token_filename_hash value of md5. */
constexpr std::int32_t kFilenameHashMd5 = 2;

/* compression_method value that names no algorithm. */
constexpr std::int32_t kCompressionNone = 0;

/* Bandwidth policies: fixed as a default, low or trickle as the most a
 * user is allowed. */
constexpr std::int32_t kPolicyFixed = 0;
constexpr std::int32_t kPolicyLow = 5;

/* An unlimited rate cap as stored: the word Unlimited (0xFFFFFFFFFFFFF) in
 * the rates' unit of 1000. */
constexpr std::uint64_t kUnlimitedRate = 0x3E7FFFFFFFFFFC18;

/* Status and kind of the finding on a docroot list without a root. */
constexpr cv_status kNoRootStatus = CV_E_INVALID_DOC_ROOT;
constexpr std::int32_t kNoRootKind = 1;

/* Strictness from which the value checks run, and the one that also asks
 * whether content protection may be required. */
constexpr std::int32_t kChecksFrom = 0;
constexpr std::int32_t kContentProtectionStrictness = -1;

cv_uac_user *as_user(cv_uac_config_object *object) {
    return reinterpret_cast<cv_uac_user *>(object);
}

bool is_set(const char *text) { return text != nullptr; }

// ---- build -------------------------------------------------------------

/* Adds `from`'s findings to `*to`, oldest first, each behind `label`. */
void carry_over(const cv_uac_warning *from, cv_uac_warning **to, const char *label) {
    if (!from) return;
    carry_over(from->next, to, label);
    add_warning_kind(to, from->status, from->kind, "%s %s", label, from->text);
}

void ensure_variables(cv_uac_config_object *object) {
    if (object->variables) return;
    if (cv_status status = cv_btree_create_strings(&object->variables); status != CV_OK) {
        object->variables = nullptr;
        cv_log_error("User settings: Unable to allocate var tree");
        add_warning(&object->warnings, status, "Unable to allocate var tree");
    }
}

void set_variable(cv_btree *variables, const char *name, const char *value) {
    if (variables) (void)cv_btree_set(variables, name, value);
}

void check_token_type(const cv_uac_user *user, const char *name) {
    if (!user->token_encryption_key) return;
    for (std::int32_t type : kTokenTypes)
        if (user->token_encryption_type == type) return;
    cv_log_error("User settings: Invalid token encryption type for user %s!", name);
}

/* The user name field holds the name as received; one that does not fit is
 * kept in the variables whole, and the cut is reported. */
void keep_user_name(cv_uac_user *user, const char *name) {
    if (cv_str_copy(user->user_name, name, sizeof user->user_name) != CV_OK)
        add_warning(&user->object.warnings, CV_E_BUFFER_SPACE,
                    "User settings: user name %s is longer than %zu bytes", name,
                    sizeof user->user_name - 1);
}

/* Sets the identity variables: the realm, and the user and domain parts of
 * `name` (a domain, a backslash and the user, or only the user). */
void set_identity_variables(cv_uac_user *user, const char *name) {
    cv_btree *variables = user->object.variables;
    set_variable(variables, "realm", user->realm ? user->realm : kUnknown);

    const char *separator = std::strchr(name, '\\');
    const char *user_part = separator ? separator + 1 : name;
    char domain[kDomainSize] = "";
    const std::size_t domain_length = separator ? static_cast<std::size_t>(separator - name) : 0;
    const bool domain_fits = domain_length < sizeof domain;
    if (domain_fits) {
        std::memcpy(domain, name, domain_length);
        domain[domain_length] = '\0';
    } else {
        add_warning(&user->object.warnings, CV_E_BUFFER_SPACE,
                    "User settings: the domain of user %s is longer than %zu bytes", name,
                    sizeof domain - 1);
    }
    for (const char *key : {"name", "user", "NAME", "USER"})
        set_variable(variables, key, user_part);
    if (domain_fits)
        for (const char *key : {"domain", "DOMAIN"}) set_variable(variables, key, domain);
}

/* Sets the variables the entries define: each `<variable>` child reading
 * "name=value" (the value may hold "=" itself). */
void set_entry_variables(cv_uac_user *user, xmlNode *const *entries) {
    cv_btree *variables = user->object.variables;
    if (!entries || !variables) return;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node_args(entries, &handle,
                                                                PARSE_XML_TAG_variable,
                                                                PARSE_XML_END);
         node; node = parse_xml_get_next_matching_node(handle, nullptr)) {
        const char *text = cv_uac_type_impl::element_text(node);
        if (!text) continue;
        const std::string_view definition(text);
        const std::size_t equals = definition.find('=');
        if (equals == std::string_view::npos) continue;
        if (definition.size() > kVariableDefinitionMax) {
            add_warning(&user->object.warnings, CV_E_INVALID,
                        "Variable definition of %zu bytes is longer than %zu and is ignored",
                        definition.size(), kVariableDefinitionMax);
            continue;
        }
        char name[kVariableDefinitionMax + 1];
        std::memcpy(name, text, equals);
        name[equals] = '\0';
        set_variable(variables, name, text + equals + 1);
    }
    if (handle) (void)parse_xml_free_search_handle(handle);
}

cv_uac_trunk *load_trunk(const cv_uac_conf_set *set, std::uint32_t id) {
    cv_uac_trunk *trunk = nullptr;
    if (cv_uac_get_trunk(set, id, &trunk) != CV_OK || !trunk) return cv_uac_trunk_defaults();
    return trunk;
}

void release_trunk(cv_uac_trunk **trunk) {
    if (*trunk) cv_uac_config_release(&(*trunk)->object);
    *trunk = nullptr;
}

void attach_trunks(cv_uac_user *user, const cv_uac_conf_set *set) {
    release_trunk(&user->in_trunk);
    release_trunk(&user->out_trunk);
    user->in_trunk = load_trunk(set, user->transfer_in_bandwidth_aggregate_trunk_id);
    user->out_trunk = load_trunk(set, user->transfer_out_bandwidth_aggregate_trunk_id);
    if (user->in_trunk)
        carry_over(user->in_trunk->object.warnings, &user->object.warnings, "(In Trunk)");
    if (user->out_trunk)
        carry_over(user->out_trunk->object.warnings, &user->object.warnings, "(Out Trunk)");
}

void release_docroots(cv_uac_user *user) {
    if (user->docroots) cv_uac_config_release(&user->docroots->object);
    user->docroots = nullptr;
}

void attach_docroots(cv_uac_user *user, xmlNode *const *entries, void *docroot_context) {
    release_docroots(user);
    (void)cv_uac_get_docroots(entries, user->object.variables, docroot_context, &user->docroots);
    bool has_root = false;
    int number = 1;
    for (const cv_uac_docroot *docroot = user->docroots; docroot;
         docroot = docroot->next, ++number) {
        char label[kLabelSize];
        (void)cv_snprintf(label, sizeof label, "(Docroot %d)", number);
        carry_over(docroot->object.warnings, &user->object.warnings, label);
        has_root = has_root || cv_uac_docroot_is_root(docroot);
    }
    if (user->docroots && !has_root)
        add_warning_kind(&user->object.warnings, kNoRootStatus, kNoRootKind,
                         "Docroot for %s has no root (\"/\") show_as member",
                         user->name ? user->name : kNameless);
}

void release_logging(cv_uac_user *user) {
    if (user->logging) cv_uac_config_release(&user->logging->object);
    user->logging = nullptr;
}

void attach_logging(cv_uac_user *user, const cv_uac_conf_set *set, xmlNode *const *entries) {
    release_logging(user);
    (void)cv_uac_get_logging(set, user->logging_class, user->object.variables, entries,
                             &user->logging);
}

// ---- validate ----------------------------------------------------------

/* A value check: when `fires` holds, `message` is reported at `base` less
 * the strictness. */
struct check {
    bool (*fires)(const cv_uac_user &user);
    const char *message;
    std::int32_t base;
};

constexpr check kChecks[] = {
    {[](const cv_uac_user &u) {
         return is_set(u.token_encryption_keyfile) ||
                u.token_encryption_type == kTokenEncryptionOff;
     },
     "Private key token encryption is currently disabled", 3},
    {[](const cv_uac_user &u) { return u.token_filename_hash == kFilenameHashMd5; },
     "md5 token filename hash is no longer supported.  Please switch to sha1", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_out_bandwidth_flow_target_rate_default >
                u.transfer_out_bandwidth_flow_target_rate_cap;
     },
     "Output bandwidth cap is less than the default", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_in_bandwidth_flow_target_rate_default >
                u.transfer_in_bandwidth_flow_target_rate_cap;
     },
     "Input bandwidth cap is less than the default", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_out_bandwidth_flow_min_rate_default >
                u.transfer_out_bandwidth_flow_min_rate_cap;
     },
     "Output minimum rate cap is less than the default", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_in_bandwidth_flow_min_rate_default >
                u.transfer_in_bandwidth_flow_min_rate_cap;
     },
     "Input minimum rate cap is less than the default", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_in_bandwidth_flow_policy_default == kPolicyFixed &&
                u.transfer_in_bandwidth_flow_policy_allowed == kPolicyLow;
     },
     "Input bandwidth policy default is more permissive than allowed", 3},
    {[](const cv_uac_user &u) { return u.compression_method == kCompressionNone; },
     "Input compression algorithm is not allowed", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_out_bandwidth_flow_policy_default == kPolicyFixed &&
                u.transfer_out_bandwidth_flow_policy_allowed == kPolicyLow;
     },
     "Output bandwidth policy default is more permissive than allowed", 3},
    // Written as "not at least" so that a cap that is no number fires too.
    {[](const cv_uac_user &u) {
         return !(u.transfer_in_bandwidth_flow_aggressiveness_cap >=
                  u.transfer_in_bandwidth_flow_aggressiveness_default);
     },
     "Aggressiveness cap is less than the default", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_protocol_options_max_sock_buffer != 0 &&
                u.transfer_protocol_options_min_sock_buffer >
                    u.transfer_protocol_options_max_sock_buffer;
     },
     "Minimum socket buffer is greater than the maximum", 3},
    {[](const cv_uac_user &u) { return u.max_file_cache_buffer != 0 && !u.use_file_cache; },
     "Max file cache buffer is set even though the file cache is off", 0},
    {[](const cv_uac_user &u) {
         return u.transfer_out_bandwidth_flow_min_rate_cap != kUnlimitedRate &&
                u.transfer_out_bandwidth_flow_min_rate_cap >
                    u.transfer_out_bandwidth_flow_target_rate_cap;
     },
     "Output bandwidth cap is less than the minimum", 3},
    {[](const cv_uac_user &u) {
         return u.transfer_in_bandwidth_flow_min_rate_cap != kUnlimitedRate &&
                u.transfer_in_bandwidth_flow_min_rate_cap >
                    u.transfer_in_bandwidth_flow_target_rate_cap;
     },
     "Input bandwidth cap is less than the minimum", 3},
    // An empty suffix is no suffix at all, so two empty ones never clash.
    {[](const cv_uac_user &u) {
         return u.partial_file_suffix && u.resume_suffix && u.partial_file_suffix[0] != '\0' &&
                std::strcmp(u.partial_file_suffix, u.resume_suffix) == 0;
     },
     "Partial file suffix can not be the same as the resume suffix", 3},
    {[](const cv_uac_user &u) { return is_set(u.old_preserve_mac_xattr_storage); },
     "preserve_mac_xattr_storage is no longer supported and can not be specified.", 3},
    {[](const cv_uac_user &u) { return is_set(u.old_preserve_mac_xattr); },
     "preserve_mac_xattr is no longer supported and can not be specified.", 3},
};

/* The level a finding of base level `base` is reported at under
 * `strictness`, kept within 32 bits. */
std::int32_t level_of(std::int32_t base, std::int32_t strictness) {
    const std::int64_t level = std::int64_t{base} - strictness;
    if (level > INT32_MAX) return INT32_MAX;
    if (level < INT32_MIN) return INT32_MIN;
    return static_cast<std::int32_t>(level);
}

}  // namespace

namespace cv_uac_config_impl {

cv_status user_build(cv_uac_config_object *object, const cv_uac_load_request *request) {
    cv_uac_user *user = as_user(object);
    const cv_uac_conf_set *set = request ? request->set : nullptr;
    xmlNode *const *entries = request ? request->start : nullptr;
    const auto *context =
        request ? static_cast<const cv_uac_user_context *>(request->context) : nullptr;

    ensure_variables(object);
    user->build_word = 0;
    const char *name = context && context->user_name ? context->user_name
                       : user->name                   ? user->name
                                                      : kUnknown;
    check_token_type(user, name);
    keep_user_name(user, name);
    set_identity_variables(user, name);
    set_entry_variables(user, entries);
    attach_trunks(user, set);
    if (entries) attach_docroots(user, entries, context ? context->docroot_context : nullptr);
    attach_logging(user, set, entries);
    return CV_OK;
}

cv_status user_validate(cv_uac_config_object *object, cv_uac_warning **warnings,
                        std::int32_t strictness) {
    if (!object) return CV_E_INVALID;
    const cv_uac_user &user = *as_user(object);
    cv_status status = CV_OK;
    if (strictness >= kChecksFrom)
        for (const check &c : kChecks)
            if (c.fires(user))
                report_setting(level_of(c.base, strictness), &status, warnings, "%s", c.message);
    // Asked for on its own, and always a warning when it is.
    if (strictness == kContentProtectionStrictness &&
        user.transfer_encryption_content_protection_required)
        report_setting(0, &status, warnings, "%s", "Content protection can not be required");
    return status;
}

}  // namespace cv_uac_config_impl
