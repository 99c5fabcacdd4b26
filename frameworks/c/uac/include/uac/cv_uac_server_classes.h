// The server-side config classes: settings of services that run beside the
// transfer server rather than settings of a user.
//
//   provider        one authentication provider        (list member)
//   process         one process the init daemon runs   (list member)
//   rproxy          one reverse-proxy rule             (list member)
//   database        the activity database connection
//   central_server  the central management service
//   http_server     the HTTP transfer service
//   client          client-side cipher and key defaults
//
// Each class's options are listed once, in its catalogue file
// (cv_uac_<class>_options.def); the class recipe (cv_uac_class_recipe.h)
// makes its struct, option count, catalogue and descriptor from it.
// Objects are config objects (cv_uac_config.h): release them with
// cv_uac_config_release(&x->object).
//
// The list members carry, after the base members, the link to the next
// object of their list; the list owns the objects after its head, so
// releasing the head releases the list.  The server's build step makes the
// three lists with cv_uac_get_provider_list, cv_uac_get_process_list and
// cv_uac_get_rproxy_rules; the other four classes are read by their loaders
// from the elements their caller supplies.
//
// conf.d overrides: a list member has no option that tells it apart from
// the other members of its list, and an element written where the list is
// read would add a member rather than change one, so the three list classes
// name no conf.d path or keys (an override file then holds an element named
// like the class at the root, which no look-up reads).  The four single
// objects are laid out as the element named like the class at the root,
// without keys.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "uac/cv_uac.h"
#include "uac/cv_uac_class_recipe.h"
#include "uac/cv_uac_config.h"

struct cv_btree;

/* Class flags (each adds the base class's). */
inline constexpr std::uint32_t CV_UAC_PROVIDER_CLASS_FLAGS = 0x4000;
inline constexpr std::uint32_t CV_UAC_PROCESS_CLASS_FLAGS = 0x8000;
inline constexpr std::uint32_t CV_UAC_RPROXY_CLASS_FLAGS = 0x20000;
inline constexpr std::uint32_t CV_UAC_DATABASE_CLASS_FLAGS = 0x100;
inline constexpr std::uint32_t CV_UAC_CENTRAL_SERVER_CLASS_FLAGS = 0x200;
inline constexpr std::uint32_t CV_UAC_HTTP_SERVER_CLASS_FLAGS = 0x400;
inline constexpr std::uint32_t CV_UAC_CLIENT_CLASS_FLAGS = 0x40000;

/* Bytes of each expanded path a central_server or client object keeps,
 * terminator included. */
inline constexpr std::size_t CV_UAC_SERVER_PATH_SIZE = 8192;

/* Findings of the validate steps (formatted through report_setting). */
inline constexpr const char *CV_UAC_RPROXY_NO_HOST_TEXT =
    "if load balancing is off then host has to be valid";
inline constexpr const char *CV_UAC_HTTP_SERVER_SAME_PORTS_FORMAT =
    "HTTP and HTTPS port are the same (%u)";

/* Warning of a client whose default SSH key path cannot be expanded. */
inline constexpr const char *CV_UAC_CLIENT_KEY_PATH_TEXT = "Unable to parse path string";

/* The `provider` class: no validate, build or change rule; its release hook
 * releases the providers after it. */
#define CV_UAC_CLASS provider
#define CV_UAC_CLASS_ROWS "uac/cv_uac_provider_options.def"
#define CV_UAC_CLASS_MEMBERS struct cv_uac_provider *next; /* owned */
#include "uac/cv_uac_class_declare.h"

/* The `process` class: as provider. */
#define CV_UAC_CLASS process
#define CV_UAC_CLASS_ROWS "uac/cv_uac_process_options.def"
#define CV_UAC_CLASS_MEMBERS struct cv_uac_process *next; /* owned */
#include "uac/cv_uac_class_declare.h"

/* The `rproxy` class: validate is the load-balancing check
 * (CV_UAC_RPROXY_NO_HOST_TEXT); the release hook releases the rules after
 * it. */
#define CV_UAC_CLASS rproxy
#define CV_UAC_CLASS_ROWS "uac/cv_uac_rproxy_options.def"
#define CV_UAC_CLASS_MEMBERS struct cv_uac_rproxy *next; /* owned */
#include "uac/cv_uac_class_declare.h"

/* The `database` class: no validate, build or change rule. */
#define CV_UAC_CLASS database
#define CV_UAC_CLASS_ROWS "uac/cv_uac_database_options.def"
#include "uac/cv_uac_class_declare.h"

/* The `central_server` class: its build hook expands the variables of
 * persistent_store_path and transfer_list_path into the two buffers (left
 * empty for the defaults object and when a path cannot be expanded). */
#define CV_UAC_CLASS central_server
#define CV_UAC_CLASS_ROWS "uac/cv_uac_central_server_options.def"
#define CV_UAC_CLASS_MEMBERS                                 \
    char expanded_persistent_store_path[CV_UAC_SERVER_PATH_SIZE]; \
    char expanded_transfer_list_path[CV_UAC_SERVER_PATH_SIZE];
#include "uac/cv_uac_class_declare.h"

/* The `http_server` class: validate is the port check
 * (CV_UAC_HTTP_SERVER_SAME_PORTS_FORMAT). */
#define CV_UAC_CLASS http_server
#define CV_UAC_CLASS_ROWS "uac/cv_uac_http_server_options.def"
#include "uac/cv_uac_class_declare.h"

/* The `client` class: on_change expands ssh_key into the key path buffer,
 * a leading "~/" standing for the variable home's folder. */
#define CV_UAC_CLASS client
#define CV_UAC_CLASS_ROWS "uac/cv_uac_client_options.def"
#define CV_UAC_CLASS_MEMBERS char expanded_ssh_key[CV_UAC_SERVER_PATH_SIZE];
#include "uac/cv_uac_class_declare.h"

/* Builds the provider list of the configuration `set` (may be null) into
 * `*head`: one provider is read from each `server/authentication/provider`
 * element at the configuration's root, in search order, with `variables`
 * (may be null) merged into its variables, and linked in that order.
 * With `type_filter` null every provider is taken.  Otherwise only those
 * whose `type` text (trimmed) matches `type_filter` as a wildcard pattern
 * (cv_wildcard_match: case-sensitive) are taken; when none does, the list
 * is one provider of defaults whose `type` is set to the filter text
 * exactly (through set_by_name).  `*head` is null when there is no
 * provider.  0; 22 for a null `head`; 8 when a provider cannot be
 * allocated (the providers read before it stay in the list); 22 for the
 * filter "CV_NULL" when no provider matches it (it names no type), or the
 * status of set_by_name when the filter cannot be set (no list then). */
[[nodiscard]] cv_status cv_uac_get_provider_list(const cv_uac_conf_set *set, cv_btree *variables,
                                                 const char *type_filter,
                                                 cv_uac_provider **head);

/* Builds the process list of `set` (may be null) into `*head`: one process
 * per `server/initd/processes/process` element at the configuration's
 * root, linked in search order, with `variables` merged into each.  `*head`
 * is null when there is none.  0; 22 for a null `head`; 8 as for the
 * provider list. */
[[nodiscard]] cv_status cv_uac_get_process_list(const cv_uac_conf_set *set, cv_btree *variables,
                                                cv_uac_process **head);

/* Builds the rule list of `set` (may be null) into `*head`: one rproxy
 * object per `server/rproxy/rules/rule` element at the configuration's
 * root, linked in search order, each loaded like any other object (build
 * hook and on_change run).  `*head` is null when there is none.  0; 22 for
 * a null `head`; 8 as for the provider list. */
[[nodiscard]] cv_status cv_uac_get_rproxy_rules(const cv_uac_conf_set *set, cv_btree *variables,
                                                cv_uac_rproxy **head);

/* The loaders of the single objects: read a new object into `*out` from
 * `entries`, the null-terminated list of elements the caller found for the
 * object (may be null: an object of defaults), as for a user
 * (cv_uac_load_user): the object's variable tree is a copy of the
 * framework's variables with `variables` (may be null) merged in, options
 * are read in catalogue order (every match kept when `alternates`), then
 * the build hook and on_change run.  0; 22 for a null `out`; 8 when the
 * object cannot be allocated; else the build hook's status. */
[[nodiscard]] cv_status cv_uac_load_database(const cv_uac_conf_set *set, xmlNode *const *entries,
                                             cv_btree *variables, std::int32_t alternates,
                                             cv_uac_database **out);
[[nodiscard]] cv_status cv_uac_load_central_server(const cv_uac_conf_set *set,
                                                   xmlNode *const *entries, cv_btree *variables,
                                                   std::int32_t alternates,
                                                   cv_uac_central_server **out);
[[nodiscard]] cv_status cv_uac_load_http_server(const cv_uac_conf_set *set,
                                                xmlNode *const *entries, cv_btree *variables,
                                                std::int32_t alternates, cv_uac_http_server **out);
[[nodiscard]] cv_status cv_uac_load_client(const cv_uac_conf_set *set, xmlNode *const *entries,
                                           cv_btree *variables, std::int32_t alternates,
                                           cv_uac_client **out);

/* cv_uac_<class>_defaults(): each class's defaults object (never
 * released), or null when it cannot be built. */
