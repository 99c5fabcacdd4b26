// The configuration framework's entry points: its start and end, the
// configuration set and the master group set.
//
// A configuration set is the main file corvane.conf and every file of the
// conf.d folder beside it, parsed and decorated (parse_xml.h) into one
// record whose null-terminated array of root elements is where every search
// over the configuration starts.  The first file read fixes the set's
// version; at most CV_UAC_MAX_CONF_FILES files make one set.
//
// The framework's process-wide state lives between the first cv_uac_init
// and the matching last cv_uac_deinit: the global variable tree (hostname,
// short_hostname), the rule functions of cv_uac_fitness.h, the list of
// group providers that tell which configured groups a user belongs to, the
// master group set handed to them, and a stack of clean-up calls that other
// parts of the framework push.  Sets are loaded, searched and released while
// the framework is up.  None of it is locked: start, end, loading and
// selection run on one thread.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/parse_xml.h"

struct cv_btree;

/* Most files in one set (the main file included); a further file is
 * silently left out. */
inline constexpr std::size_t CV_UAC_MAX_CONF_FILES = 100;

/* Most elements cv_uac_find_nodes returns. */
inline constexpr std::size_t CV_UAC_MAX_FOUND_NODES = 100;

/* cv_uac_init refuses to count beyond this many starts. */
inline constexpr std::int32_t CV_UAC_INIT_LIMIT = 1000000;

/* Precedence of a group entry that gives none. */
inline constexpr double CV_UAC_DEFAULT_PRECEDENCE = 1000.0;

/* Bytes of the host name the framework reads, terminator included. */
inline constexpr std::size_t CV_UAC_HOST_NAME_SIZE = 1024;

/* Flag of cv_uac_load_conf_file: read the given file alone, not conf.d. */
inline constexpr std::uint32_t CV_UAC_LOAD_NO_CONF_D = 1;

/* Names of the main file and of the override folder beside it. */
inline constexpr const char *CV_UAC_CONF_FILE_NAME = "corvane.conf";
inline constexpr const char *CV_UAC_CONF_D_NAME = "conf.d";

/* Names of the global variables. */
inline constexpr const char *CV_UAC_VARIABLE_HOSTNAME = "hostname";
inline constexpr const char *CV_UAC_VARIABLE_SHORT_HOSTNAME = "short_hostname";

struct cv_uac_retired_file;

/* A loaded configuration set.  Slots 0 .. count-1 of `documents`, `roots`
 * and `paths` are in use, in search order: the conf.d files in the byte
 * order of their paths below conf.d, then the main file, then files added
 * from elsewhere in the order they were added.  `roots[count]` is null, so
 * `roots` is the start list of every search over the set, and a search that
 * takes the first match finds a conf.d file's value before the main file's.
 * All of it belongs to the set: release it with
 * cv_uac_release_conf_file_set. */
struct cv_uac_conf_set {
    std::int32_t version;  /* -1 until a file's root gives one */
    xmlDoc *documents[CV_UAC_MAX_CONF_FILES];
    xmlNode *roots[CV_UAC_MAX_CONF_FILES + 1];
    /* The canonical path each slot was read from; null for XML text. */
    const char *paths[CV_UAC_MAX_CONF_FILES];
    /* The canonical conf.d folder beside the main file; null for XML text. */
    const char *conf_d;
    parse_xml_tracker *decoration;  /* the tracker shared by all roots */
    cv_uac_heap *heap;              /* holds this record, the paths and the trackers */
    std::int32_t count;
    /* Documents replaced or removed while the set was in use, kept until
     * the set is released because objects read from them may point into
     * them. */
    cv_uac_retired_file *retired;
};

/* One configured group of the master group set.  Both names are kept whole,
 * however long, in the master group set's own allocation. */
struct cv_uac_group_entry {
    const char *name;   /* trimmed `name` of the group */
    const char *realm;  /* trimmed `name` of its realm, or "" */
    double precedence;                   /* lower comes first */
    xmlNode *node;                       /* the `group` element */
};

/* Every named group entry of a set, sorted by ascending precedence (entries
 * of equal precedence keep their search order).  An entry's position is its
 * group index: the bit number group providers set for it. */
struct cv_uac_master_group_set {
    std::uint32_t count;
    cv_uac_group_entry *entries;  /* `count` entries, then their names, in the same
                                     allocation */
};

/* A group provider: tells which entries of the master group set a user is a
 * member of.  Providers are records of this layout linked through `next`,
 * kept by the framework from cv_uac_init to the last cv_uac_deinit, and
 * asked in list order. */
struct cv_uac_group_provider {
    /* Takes the new master group set (an empty one, count 0, when there is
     * none any more); the set stays valid until the next call. */
    void (*set_groups)(const cv_uac_master_group_set *groups, cv_uac_group_provider *provider);
    /* Sets, in `group_bits` (32 per word), the bit of every master group set
     * entry that `user` of `realm` ("*" for any) is a member of; non-zero
     * when this provider has answered and later ones need not be asked. */
    std::int32_t (*find_user_groups)(const char *realm, const char *user,
                                     std::uint32_t *group_bits, cv_uac_group_provider *provider);
    /* Frees the provider. */
    void (*release)(cv_uac_group_provider *provider);
    cv_uac_group_provider *next;
};

/* Called by the first cv_uac_init with the address of the tail holder: the
 * holder points at the link where the next provider is to be stored.  The
 * function stores its providers there one after another and leaves the
 * holder pointing at the `next` field of the last one it stored (null). */
using cv_uac_provider_registration = void (*)(cv_uac_group_provider ***tail_holder);

/* A clean-up call pushed with cv_uac_push_cleanup. */
using cv_uac_cleanup_function = void (*)(void *argument);

/* Counted start of the framework.  Only the first start (count 0) does the
 * work: starts the XML layer, creates the global variable tree with
 * `hostname` and `short_hostname` (the host name up to its first dot; when
 * the host name cannot be read, "Unable to determine hostname for
 * configuration use" is logged and neither is set), starts the socket
 * library, registers the rule functions cookie, stgl_provider, peer_domain,
 * peer_ip and classes and installs the fitness scorer (cv_uac_fitness.h),
 * then calls `register_providers` (may be null) with the provider list's tail
 * holder.  0 when counted; 22 when the count has reached CV_UAC_INIT_LIMIT
 * (nothing is done: do not pair it with a cv_uac_deinit); otherwise the
 * status of the step that failed, with everything undone and the count
 * left at 0. */
[[nodiscard]] cv_status cv_uac_init(cv_uac_provider_registration register_providers);

/* Counted end of the framework; the call that brings the count to 0
 * destroys the global variable tree, calls every provider's release in list
 * order and empties the list, empties the function registry, runs every
 * clean-up call (last pushed first), discards the master group set and
 * stops the XML layer.  Without a start it does nothing. */
void cv_uac_deinit();

/* The number of starts not yet ended (0 when the framework is down). */
std::int32_t cv_uac_init_count();

/* The global variable tree, or null while the framework is down.  Owned by
 * the framework; config objects copy it into their own trees. */
cv_btree *cv_uac_global_variables();

/* Sets `hostname` to `host_name` and `short_hostname` to its text before
 * the first dot (the whole name when it has none) in `variables`.  0; 22
 * for a null argument or a short name of CV_UAC_HOST_NAME_SIZE bytes or more
 * (nothing set); 8 out of memory. */
[[nodiscard]] cv_status cv_uac_set_host_variables(cv_btree *variables, const char *host_name);

/* Pushes `function`(`argument`) onto the clean-up stack, to be run by the
 * last cv_uac_deinit.  0; 22 for a null function; 8 out of memory. */
[[nodiscard]] cv_status cv_uac_push_cleanup(cv_uac_cleanup_function function, void *argument);

/* The process-wide count of live config object references, and its change
 * by `delta` (safe from any thread); returns the new count. */
std::int32_t cv_uac_config_object_count();
std::int32_t cv_uac_config_object_count_add(std::int32_t delta);

/* Finds the main file for an executable at `exe_path`: "corvane.conf" in
 * the executable's folder, its etc, its parent, the parent's etc, the
 * grandparent or the grandparent's etc (the first found); failing that,
 * "corvane.conf" beside the first "conf.d" found the same way (the file need
 * not exist: the set is then made of conf.d files alone).  0 with the path
 * in `dst`; 22 for null arguments; 2 when neither is found, or the path
 * does not fit, with "Unable to find either corvane.conf or a conf.d folder"
 * logged at info level.  `dst` is empty on failure. */
[[nodiscard]] cv_status cv_uac_find_conf_file(const char *exe_path, char *dst, std::size_t size);

/* Loads a configuration set.  `path` is the main file, an XML text when it
 * begins with "<", or null to find the main file beside the running
 * executable (cv_uac_find_conf_file; "Unable to determine executable path"
 * when that path cannot be had).  The main file is read first and fixes the
 * set's version.  A main file that does not exist is logged as "conf file
 * %s not found.  Using default settings." and the set is then founded by
 * the first readable conf.d file; a main file that exists but cannot be
 * read ends the load without a set.  Then, unless `flags` holds
 * CV_UAC_LOAD_NO_CONF_D or the path is XML text, every regular file of the
 * conf.d folder beside the main file, sub-folders included, is added in the
 * byte order (strcmp) of its path below conf.d, never in the file system's
 * listing order: "B.conf" before "a.conf", "a.conf" before "a/z.conf"
 * before "b.conf".  The first CV_UAC_MAX_CONF_FILES files that load in that
 * order make the set; a file that cannot be read is logged and left out,
 * the others still load.  The conf.d files come before the main file in the
 * set's search order (see cv_uac_conf_set).  Returns the set (release with
 * cv_uac_release_conf_file_set), or null when no file could be read (then
 * "conf file %s not found.  Using default settings." is logged with the
 * main path). */
[[nodiscard]] cv_uac_conf_set *cv_uac_load_conf_file(const char *path, std::uint32_t flags);

/* Parses `path` against the set's version and adds its root to `set`.  A
 * file of the set's conf.d folder takes its place among the conf.d files by
 * the byte order of its path below conf.d (so it is searched before the
 * main file); any other file, or an XML text (a `path` that begins with
 * "<"), is searched last.  A file the set already holds (the same canonical
 * path) is read again into its own slot: the set does not grow, and the
 * document it replaces stays alive until the set is released.  A root of
 * another version, or not named CONF, is not added.  1 when the file was
 * added or read again; 0 otherwise, with the set as it was: a null set
 * ("cv_uac_load_additional_conf_file: Conf set is NULL.  Nothing to do!"),
 * a full set, a file that cannot be read (logged by the XML layer) or one
 * without a usable root. */
std::int32_t cv_uac_load_additional_conf_file(const char *path, cv_uac_conf_set *set);

/* The set's version; 0 for a null set. */
std::int32_t cv_uac_get_conf_version(const cv_uac_conf_set *set);

/* Releases a set: undecorates each root, frees each document (the retired
 * ones too), then the trackers and the record itself.  A master group set built from this set
 * is discarded too (its providers are told).  0, also for null; otherwise
 * the first failure met. */
cv_status cv_uac_release_conf_file_set(cv_uac_conf_set *set);

/* Rebuilds the master group set from the `group` entries of every realm of
 * `set` (aaa/realms/realm/groups/group) and hands it to every provider in
 * list order (an empty one when none is built), then frees the previous
 * one.  A group without a `name` is logged as "Nameless group found
 * in conf file.  Can not possibly have any members!" and left out.  A
 * `precedence` that is not a finite decimal number counts as absent
 * (CV_UAC_DEFAULT_PRECEDENCE).  A null set leaves none.  0; 8 when the new set cannot be allocated
 * ("Unable to allocate master group set.  Bytes needed = %zu.  Group cross
 * referencing will fail."), leaving none. */
[[nodiscard]] cv_status cv_uac_select_master_conf_file_set(const cv_uac_conf_set *set);

/* The current master group set, or null when none has been selected. */
const cv_uac_master_group_set *cv_uac_get_master_group_set();

/* Every element matching `path` (tag numbers ending with PARSE_XML_END)
 * across the set, in search order, at most CV_UAC_MAX_FOUND_NODES, as a
 * null-terminated table that the caller frees with cv_uac_free.  Null when
 * nothing matches, for a null argument, or when the table cannot be
 * allocated (logged with the label "UAC Root node.  Config file
 * unusable"). */
[[nodiscard]] xmlNode **cv_uac_find_nodes(const cv_uac_conf_set *set, const std::int32_t *path);

/* Writes the canonical rooted form of `path` into `output` (`size` bytes):
 * backslashes become "/", a path without a drive or root gets a leading
 * "/", then "." and ".." are resolved (cv_path_canonicalize).  `output` may
 * be `path`.  0; -1 for a null argument, a path of CV_PATH_SIZE bytes or
 * more, one that cannot be made rooted, or a result that does not fit
 * (`output` is then emptied when it has room). */
int cv_uac_rooted_path(const char *path, char *output, std::size_t size);
