// The small config classes that hang off a user: `trunk` (a bandwidth pool
// that transfers join by id) and `logging` (log level, directory and size
// for a named logging class), with the ways their elements are found in a
// configuration.
//
// Each class's options are listed once, in its catalogue file
// (cv_uac_trunk_options.def, cv_uac_logging_options.def); the class recipe
// (cv_uac_class_recipe.h) makes the structs cv_uac_trunk and cv_uac_logging,
// their option counts and catalogue tables from that list.  Objects are
// config objects (cv_uac_config.h): release them with
// cv_uac_config_release(&x->object).
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "uac/cv_uac.h"
#include "uac/cv_uac_class_recipe.h"
#include "uac/cv_uac_config.h"

struct cv_btree;

/* The `trunk` class: flags 0x80, no validate, build or change rule; its
 * objects are told apart by trunk_id. */
inline constexpr std::uint32_t CV_UAC_TRUNK_CLASS_FLAGS = 0x80;

#define CV_UAC_CLASS trunk
#define CV_UAC_CLASS_ROWS "uac/cv_uac_trunk_options.def"
#include "uac/cv_uac_class_declare.h"

/* Loads the trunk of id `id` into `*trunk`: the `trunks/trunk` elements at
 * the configuration's root whose `id` child reads as the number `id` (the
 * best of them by fitness gives each option).  Without such an element, or
 * without a configuration, the trunk holds the defaults (trunk_capacity
 * 50000, trunk_on false) with trunk_id `id`.  A conf.d override of a trunk
 * is a `trunks/trunk` element with its id.  0; 22 for a null `trunk`; the loader's status
 * otherwise (cv_uac_config_load). */
[[nodiscard]] cv_status cv_uac_get_trunk(const cv_uac_conf_set *set, std::uint32_t id,
                                         cv_uac_trunk **trunk);

/* cv_uac_trunk_defaults(): the trunk class's defaults object (never
 * released), or null when it cannot be built.  Stands in for a trunk that
 * cannot be created. */

/* The `logging` class: flags 0x80000, no validate, build or change rule;
 * its objects are told apart by classes. */
inline constexpr std::uint32_t CV_UAC_LOGGING_CLASS_FLAGS = 0x80000;

/* Most logging elements one logging object is read from. */
inline constexpr std::size_t CV_UAC_LOGGING_MAX_SELECTED = 63;

/* Name of the variable that gives the wanted logging class. */
inline constexpr const char *CV_UAC_LOGGING_CLASS_VARIABLE = "logging_class";

#define CV_UAC_CLASS logging
#define CV_UAC_CLASS_ROWS "uac/cv_uac_logging_options.def"
#include "uac/cv_uac_class_declare.h"

/* Selects the logging elements for the logging class `class_name` and loads
 * the logging object from them into `*logging`.  The wanted name is
 * `class_name`, else the variable "logging_class" of `variables`, else "".
 * Candidates are the `logging` elements under `entries` (a null-terminated
 * list, may be null), then the `logging/log_setting` elements at the root of
 * `set` (may be null).  A candidate is selected when one of the ";"-separated
 * parts of its `classes` (default "*") matches the wanted name as a wildcard
 * pattern (cv_wildcard_match: case-sensitive); at most
 * CV_UAC_LOGGING_MAX_SELECTED are selected, in candidate order, and the
 * object is read from them in that order (`variables` merged into its
 * variables).  With none selected it holds the defaults.  A candidate whose
 * `classes` cannot be copied is skipped ("Logging application list.  This
 * one will be ignored.").  A conf.d override of a logging object is a
 * `logging/log_setting` element with the object's classes, so it applies to
 * every logging class they select.  0; 22 for a null `logging`; the
 * loader's status otherwise. */
[[nodiscard]] cv_status cv_uac_get_logging(const cv_uac_conf_set *set, const char *class_name,
                                           cv_btree *variables, xmlNode *const *entries,
                                           cv_uac_logging **logging);
