// The `server` config class: the settings that apply to the whole transfer
// server rather than to one user (the node's HTTP API, the key-value
// database and its sharded variant, activity logging, the file-listing
// cache, the event journal, the proxies, the auxiliary daemons and the
// cipher choices), read from the `<server>` elements at the top of a
// configuration.
//
// The options are listed once, in cv_uac_server_options.def; the class
// recipe makes the struct cv_uac_server, its catalogue and descriptor from
// them.  Before the values a server object keeps what its build step
// attaches: the authentication providers (`<authentication><provider>`),
// the init daemon's processes (`<initd><processes><process>`) and the
// reverse-proxy rules (`<rproxy><rules><rule>`), each a list in document
// order.  The object owns the lists; releasing the server releases them.
// Objects are config objects (cv_uac_config.h): release them with
// cv_uac_config_release(&server->object).
#pragma once

#include <cstdint>

#include "uac/cv_uac.h"
#include "uac/cv_uac_class_recipe.h"
#include "uac/cv_uac_config.h"

struct cv_uac_provider;
struct cv_uac_process;
struct cv_uac_rproxy;

/* The `server` class: flags 0x2000 (with the base class's, 0x2010). */
inline constexpr std::uint32_t CV_UAC_SERVER_CLASS_FLAGS = 0x2000;

/* Bytes the serializer's buffer starts with; it grows past them rather than
 * cut the text. */
inline constexpr std::size_t CV_UAC_SERVER_SERIALIZE_BUFFER_SIZE = 65536;

/* The debug line of the db_port rule, written at verbosity 2 and more. */
inline constexpr const char *CV_UAC_SERVER_DB_PORT_AUTOMATIC =
    "Automatically setting db_port to \"shardkv default\" since FIELD(db_type)==1";

#define CV_UAC_CLASS server
#define CV_UAC_CLASS_ROWS "uac/cv_uac_server_options.def"
/* build_word: reset by the build step; the lists, owned, each released
 * through its head: the providers, the processes, the rules. */
#define CV_UAC_CLASS_MEMBERS          \
    std::uint32_t build_word;         \
    cv_uac_provider *providers;       \
    cv_uac_process *processes;        \
    cv_uac_rproxy *rules;
#include "uac/cv_uac_class_declare.h"

/* Reads a server object into `*server` from `elements`, the
 * null-terminated `<server>` elements of `set` in its search order (may be
 * null: an object of defaults), then builds its provider, process and rule
 * lists from the `server/authentication/provider`,
 * `server/initd/processes/process` and `server/rproxy/rules/rule` elements
 * of `set` (none without a set) and runs on_change.  0; 22 for a
 * null `server`; 8 when the object cannot be allocated; else the build
 * step's status. */
[[nodiscard]] cv_status cv_uac_load_server(const cv_uac_conf_set *set, xmlNode *const *elements,
                                           cv_uac_server **server);

/* The server settings of `set`: every `<server>` element at the roots of
 * the set, in search order (conf.d files before the main file, so an
 * override file's value wins), loaded into one server object.  Without a
 * set, or without a `<server>` element, the object holds the defaults.
 * Returns the object with one holder (the caller releases it with
 * cv_uac_config_release), or null when it cannot be built. */
[[nodiscard]] cv_uac_server *cv_uac_get_server_settings(const cv_uac_conf_set *set);

/* The serialize slot of the server class: the options (as the base class
 * writes them, cv_uac_class::serialize), then an `<authentication>` element
 * holding one `<provider>` per provider, an `<initd><processes>` element
 * holding one `<process>` per process, and an `<rproxy><rules>` element
 * holding one `<rule>` per rule, each section written when its own list
 * is not empty.  The rule options of the server (rproxy_rules_rule_*) and
 * the first rule describe the same element, so the first rule is written
 * into the element those options are written in, and a value both give is
 * written once, the server's.  Reading the text back yields the same lists.
 * Nothing is ever cut: the buffer grows as the text needs.  0 with the text
 * in `*xml` (release with cv_uac_free); 22 for null arguments; 8 out of
 * memory; else the failing serialization's status (`*xml` null). */
[[nodiscard]] cv_status cv_uac_server_serialize_to_xml(cv_uac_config_object *object,
                                                       const char *indent, const char *unit,
                                                       std::int32_t all,
                                                       cv_uac_serialize_formatter formatter,
                                                       void *formatter_context, char **xml);

/* Reads a new server object into `*object` from `fragment`, the content of
 * a `<server>` element (what cv_uac_server_serialize_to_xml writes),
 * wrapped as "<CONF version=\"2\"><server>%s</server></CONF>" whatever its
 * length and loaded as cv_uac_get_server_settings loads a configuration,
 * lists included.  The object keeps the configuration it was read from and
 * has one holder.  The registry reads server objects with it.  0; 22 for
 * null arguments or a class other than the server's; 28682 when the text
 * is not XML; 8 out of memory; else the loader's status. */
[[nodiscard]] cv_status cv_uac_server_from_fragment(cv_uac_class *cls, const char *fragment,
                                                    cv_uac_config_object **object);

/* cv_uac_server_defaults(): the process-wide defaults object of the server
 * class, built on first use and never released; null when it cannot be
 * built. */
