// The `user` config class: every setting that applies to one transfer user
// (authorization, tokens, bandwidth in both directions, encryption,
// protocol tuning, file system, the storage layer, the sync tool and the
// extra commands the restricted shell accepts).
//
// The 172 options are listed once, in cv_uac_user_options.def; the class
// recipe makes the struct cv_uac_user, its catalogue and descriptor from
// them.  Before the values a user object keeps what its build step
// attaches: the user name, the incoming and outgoing trunk, the docroot
// list and the logging object.  The object owns them; releasing the user
// releases them.  Objects are config objects (cv_uac_config.h): release
// them with cv_uac_config_release(&user->object).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "uac/cv_uac_class_recipe.h"
#include "uac/cv_uac_classes.h"

struct cv_uac_docroot;

/* The `user` class: flags 0x20 (with the base class's, 0x30). */
inline constexpr std::uint32_t CV_UAC_USER_CLASS_FLAGS = 0x20;

/* Bytes of the user name buffer, terminator included. */
inline constexpr std::size_t CV_UAC_USER_NAME_SIZE = 256;

/* The note of a user option: "0" for all but `user_value`. */
constexpr const char *cv_uac_user_note(std::string_view key) {
    return key == "user_value" ? "\"64 bit value for application use\"" : "0";
}

#define CV_UAC_CLASS user
#define CV_UAC_CLASS_ROWS "uac/cv_uac_user_options.def"
#define CV_UAC_CLASS_NOTE cv_uac_user_note
/* user_name: the full user name as received, domain part included;
 * build_word: reset by the build step; the attachments, owned, released in
 * this order: logging, the docroot list (its head releases the rest), the
 * in-trunk, the out-trunk. */
#define CV_UAC_CLASS_MEMBERS                \
    char user_name[CV_UAC_USER_NAME_SIZE]; \
    std::uint64_t build_word;              \
    cv_uac_logging *logging;               \
    cv_uac_trunk *in_trunk;                \
    cv_uac_trunk *out_trunk;               \
    cv_uac_docroot *docroots;
#include "uac/cv_uac_class_declare.h"

/* Reads a user object into `*user` from `entries`, the null-terminated
 * list of entry elements that apply to the user (its own, its groups',
 * the defaults, in precedence order; may be null: an object of defaults).
 * The object's variable tree is a copy of the framework's variables with
 * `variables` (may be null) merged in; the options are read in catalogue
 * order (with every match kept when `alternates`), then the build step
 * attaches the user's trunks, docroots and logging and on_change runs.
 * `context` is handed to the build step.  0; 22 for a null `user`; 8 when
 * the object cannot be allocated; else the build step's status. */
[[nodiscard]] cv_status cv_uac_load_user(const cv_uac_conf_set *set, xmlNode *const *entries,
                                         cv_btree *variables, void *context,
                                         std::int32_t alternates, cv_uac_user **user);

/* cv_uac_user_defaults(): the process-wide defaults object of the user
 * class (every option at its default, the build step run without a
 * configuration), built on first use and never released; null when it
 * cannot be built. */

/* Slots of an entry list: at most 63 entries and the terminator. */
inline constexpr std::size_t CV_UAC_ENTRY_LIST_SIZE = 64;

/* The entry list of `user_name`: the null-terminated entry elements of `set`
 * that apply to the user, in precedence order.  First the user's own
 * entries: every `user` entry whose trimmed, normalised name equals the
 * name; failing that every one whose name matches "*\\NAME" ignoring case
 * (a bare login name finds its domain-qualified entry, whose name is then
 * the user's name for the rest of the look-up); failing that the first
 * whose name, as a wildcard pattern, matches the name.  Then the groups the
 * group providers say the user is a member of, by ascending precedence;
 * then the groups whose names match, as patterns, a name of an entry
 * already listed; then every `default` element.  An element is listed
 * once.  Entries beyond CV_UAC_ENTRY_LIST_SIZE - 1 are left out, each
 * logged as "Entry list full: %s entry %s (%s:%ld) not applied to user
 * %s".  A null `user_name` gives the defaults alone.  Null for a null set,
 * when nothing applies, or when the table cannot be allocated; release the
 * list with cv_uac_free. */
[[nodiscard]] xmlNode **cv_uac_get_user_or_group(const cv_uac_conf_set *set,
                                                 const char *user_name);

/* The settings of `user_name`: the user object read from the user's entry
 * list (cv_uac_get_user_or_group; from the class defaults alone when there
 * is none), with the user name handed to the build step.  Returns the
 * object with one holder (release with cv_uac_config_release), or null when
 * it cannot be built. */
[[nodiscard]] cv_uac_user *cv_uac_get_user_settings(const cv_uac_conf_set *set,
                                                    const char *user_name);
