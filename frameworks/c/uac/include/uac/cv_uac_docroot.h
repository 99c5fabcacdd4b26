// The `docroot` class: one document root of a user, the real path below
// which the user's transfers work, the path the user sees it as, and what
// is allowed below it.
//
// A user's docroots come from the `file_system/access/paths/path` elements
// of the user's entries, one object per element, linked in a list that is
// ordered by decreasing length of the shown path, so that the first docroot
// whose shown path prefixes a requested path is the most specific one.  Of
// two docroots shown as the same path (ignoring letter case) the first one
// in entry order wins; the other is dropped.
//
// The options are listed once, in cv_uac_docroot_options.def; the class
// recipe (cv_uac_class_recipe.h) makes the struct cv_uac_docroot, its option
// count and its catalogue from it.
// Objects are config objects (cv_uac_config.h); releasing the head of a
// list releases the whole list.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_path.h"
#include "uac/cv_uac.h"
#include "uac/cv_uac_class_recipe.h"
#include "uac/cv_uac_config.h"

struct cv_btree;

/* The `docroot` class: flags 0x40, no validate or change rule; its build
 * hook is the post-processing of each docroot (cv_uac_get_docroots). */
inline constexpr std::uint32_t CV_UAC_DOCROOT_CLASS_FLAGS = 0x40;

/* Bytes of a docroot's expanded paths and the longest filter it keeps,
 * terminators included. */
inline constexpr std::size_t CV_UAC_DOCROOT_PATH_SIZE = CV_PATH_SIZE;
inline constexpr std::size_t CV_UAC_DOCROOT_FILTER_SIZE = 8192;

/* Values of the `filter_scope` option. */
inline constexpr std::int32_t CV_UAC_DOCROOT_FILTER_STRING = 0;
inline constexpr std::int32_t CV_UAC_DOCROOT_FILTER_DIRECTORY = 1;

/* Status of the warning on a docroot the platform's path rules refuse. */
inline constexpr cv_status CV_UAC_DOCROOT_REFUSED_STATUS = CV_E_INVALID_DOC_ROOT;
/* Status and kind of the warning on a docroot list without a root. */
inline constexpr cv_status CV_UAC_DOCROOT_NO_ROOT_STATUS = 1;
inline constexpr std::int32_t CV_UAC_DOCROOT_NO_ROOT_KIND = 3;

/* A docroot's own members, before its values: the paths the transfer tools
 * compare with, the filter's copy and depth, and the list link. */
#define CV_UAC_CLASS docroot
#define CV_UAC_CLASS_ROWS "uac/cv_uac_docroot_options.def"
#define CV_UAC_CLASS_MEMBERS                                                        \
    char expanded_absolute[CV_UAC_DOCROOT_PATH_SIZE]; /* `absolute`, canonical */  \
    char expanded_show_as[CV_UAC_DOCROOT_PATH_SIZE];  /* `show_as`, rooted */      \
    char separator;          /* '/' after an absolute real path, else 0 */          \
    char *filter_copy;       /* owned copy of `filter`, or null */                  \
    std::uint64_t filter_component_count; /* path components the filter spans */    \
    struct cv_uac_docroot *next;          /* the next docroot of the list; owned */
#include "uac/cv_uac_class_declare.h"

/* The path rules a docroot's real path is checked against.  Windows has no
 * use for a path that starts at the root of the current drive. */
enum class cv_uac_path_rules { posix, windows };

/* The rules of the platform this program runs on. */
inline constexpr cv_uac_path_rules CV_UAC_NATIVE_PATH_RULES =
#ifdef _WIN32
    cv_uac_path_rules::windows;
#else
    cv_uac_path_rules::posix;
#endif

/* The warning for a docroot whose real path `rules` refuse. */
inline constexpr const char *CV_UAC_DOCROOT_REFUSED_TEXT =
    "Windows does not allow docroots that start with a '/'.";

/* True when `rules` refuse `absolute` (the text as configured) as a
 * docroot's real path: under Windows rules a path that starts with one "/"
 * ("//host/share" is a share and passes); under POSIX rules never.  A null
 * text passes. */
bool cv_uac_docroot_path_refused(const char *absolute, cv_uac_path_rules rules);

/* Canonicalises a docroot's real path in place (`size` bytes): a URL keeps
 * its scheme, "://" and one "/" after them as written and only the part
 * after them is canonicalised, a query ("?" and what follows) is put back
 * after it unchanged; any other path is canonicalised whole
 * (cv_path_canonicalize).  0; -1 (`path` emptied) when the path cannot be
 * canonicalised or the result does not fit. */
int cv_uac_docroot_canonicalize(char *path, std::size_t size);

/* Builds the docroot list of the entries `entries` (a null-terminated list,
 * may be null) into `*head`: one docroot is read from each
 * `file_system/access/paths/path` element under them, in search order, with
 * `variables` merged into its variables and `context` handed to its build
 * hook.  The list is ordered by decreasing length of the expanded shown
 * path, equal lengths in entry order; a docroot shown as the path of one
 * already in the list (ignoring letter case) is released.  When the list
 * holds docroots and none is shown as "/", its first docroot gets the
 * warning "Docroot list has no root (\"/\") show_as member." (status 1,
 * kind 3).  `*head` is null when there is no docroot.  0; 22 for a null
 * `head`; 8 when a docroot cannot be allocated (the docroots read before it
 * stay in the list). */
[[nodiscard]] cv_status cv_uac_get_docroots(xmlNode *const *entries, cv_btree *variables,
                                            void *context, cv_uac_docroot **head);

/* True when `docroot` is shown as the root "/". */
bool cv_uac_docroot_is_root(const cv_uac_docroot *docroot);

/* cv_uac_docroot_defaults(): the docroot class's defaults object (never
 * released), or null when it cannot be built. */
