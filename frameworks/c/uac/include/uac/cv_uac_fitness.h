// Fitness rules: conditions on configuration elements.
//
// Any element may carry rules in its attributes: a whole formula in an
// attribute named `fitness`, or a shorthand attribute named after a rule
// function (an attribute `peer_ip_2` holding 10.1.0.0/16 is the rule
// peer_ip(10.1.0.0/16)).  Given the variables of a connection or user, every
// element gets a fitness number: 0 without rules, 2 x (sum of the rule
// results) - 1 with rules, -1 when a rule fails.  Look-ups take the match
// with the highest fitness that is not negative.
//
// The formula language works on signed 32-bit integers: numbers in four
// bases, nested parentheses, `!` prefixes, twelve one-character binary
// operators on seven precedence levels and calls of registered rule
// functions with their argument in (), {}, [] or <> or, after "=", between
// quote characters.  Arithmetic never traps: every result is clamped to the
// 32-bit range (so the smallest integer divided by -1 is the largest one,
// and its remainder is 0); only a zero divisor fails the formula.
//
// Every evaluation failure leaves one line of text of at most 512 bytes in
// the caller's error buffer and a status: 2 for a missing function or a
// missing value to compare with, 8 for no memory, 22 for a malformed formula
// or value, 122 for a zero divisor or a text that is too large.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"
#include "uac/cv_uac_memory_heap.h"

struct cv_btree;

/* Bytes of an error text buffer, terminator included. */
inline constexpr std::size_t CV_UAC_FITNESS_ERROR_SIZE = 512;
/* Longest name of a registered function. */
inline constexpr std::size_t CV_UAC_FUNCTION_NAME_MAX = 63;
/* Longest function name in a formula; a longer one is malformed (22). */
inline constexpr std::size_t CV_UAC_FORMULA_NAME_MAX = 255;
/* Longest argument of a function call; a longer one is malformed (22). */
inline constexpr std::size_t CV_UAC_FORMULA_ARGUMENT_MAX = 1023;
/* Deepest nesting of parentheses; deeper formulas are malformed (22). */
inline constexpr std::size_t CV_UAC_FORMULA_MAX_DEPTH = 64;
/* Longest shorthand rule "name(value)"; a longer one is refused (the rule
 * fails), never cut. */
inline constexpr std::size_t CV_UAC_SHORTHAND_FORMULA_MAX = 511;
/* Longest `cookie` and `stgl_provider` argument; longer gives 122. */
inline constexpr std::size_t CV_UAC_COOKIE_ARGUMENT_MAX = 511;
/* Bytes of each side of a `peer_ip` comparison, terminator included. */
inline constexpr std::size_t CV_UAC_PEER_IP_SIZE = 128;

/* A rule function: compares `argument` (the configured text, trimmed) with
 * `value` (the supplied variable, trimmed, or null when there is none), sets
 * `*result` and returns 0, or returns a status with one line of text in
 * `error_text` (CV_UAC_FITNESS_ERROR_SIZE bytes). */
using cv_uac_rule_function = cv_status (*)(const char *argument, const char *value,
                                           std::int32_t *result, char *error_text);

/* Finds variable `name` in `variables`: 0 with `*value` set, or a status
 * (2 when absent) with `*value` null. */
using cv_uac_variable_lookup = cv_status (*)(cv_btree *variables, const char *name,
                                             const char **value);

/* One registered function. */
struct cv_uac_function_record {
    std::size_t name_length;
    char name[CV_UAC_FUNCTION_NAME_MAX + 1];
    cv_uac_rule_function function;
    cv_uac_function_record *next;
};

/* The functions a formula may call, ordered by decreasing name length (so
 * the first name that prefixes an attribute's name is the longest one). */
struct cv_uac_function_registry {
    cv_uac_function_record *head;
};

/* The process-wide registry, filled at framework start-up. */
cv_uac_function_registry *cv_uac_default_function_registry();

/* Registers `function` under `name` in `registry`: an entry of the same name
 * gets the new function and the old one goes to `*previous` ("Replacing
 * function %s" at debug level with verbosity 2), otherwise a record is
 * inserted before the first entry with a shorter name and `*previous` is
 * null.  `previous` may be null.  0; 22 for a null registry, name or
 * function, an empty name or one longer than CV_UAC_FUNCTION_NAME_MAX; 8 when
 * the record cannot be allocated ("Unable to allocate memory for function
 * storage").  Meant for start-up only: not locked. */
[[nodiscard]] cv_status cv_uac_register_function_in(cv_uac_function_registry *registry,
                                                    const char *name, cv_uac_rule_function function,
                                                    cv_uac_rule_function *previous);

/* cv_uac_register_function_in on the process-wide registry. */
[[nodiscard]] cv_status cv_uac_register_function(const char *name, cv_uac_rule_function function,
                                                 cv_uac_rule_function *previous);

/* Releases every record of `registry` and empties it (null is ignored). */
void cv_uac_function_registry_clear(cv_uac_function_registry *registry);

/* Registers the built-in rule functions `cookie`, `stgl_provider`,
 * `peer_domain`, `peer_ip` and `classes` in `registry`.  0, or the first
 * failing registration's status. */
[[nodiscard]] cv_status cv_uac_register_builtin_functions(cv_uac_function_registry *registry);

/* The look-up of a string tree (cv_btree_get). */
cv_status cv_uac_variable_lookup_tree(cv_btree *variables, const char *name, const char **value);

/* Evaluates `formula` and stores its value in `*result` (1 or 0 for logical
 * results).  `lookup` and `variables` supply the values rule functions
 * compare with (a null lookup or tree supplies none); `registry` holds the
 * callable functions (null: none).  `error_text` (CV_UAC_FITNESS_ERROR_SIZE
 * bytes, may be null) gets one line on failure; failures are also logged at
 * error level as "UAC failed to apply fitness rule: %s", except those a rule
 * function reports itself.  A null formula is 0 with the result untouched
 * ("NULL formula" at debug level with verbosity 1); otherwise `*result` is
 * 0 on failure.  0; 2, 8, 22 or 122 as described above (22 for a null
 * `result`). */
[[nodiscard]] cv_status evaluate_formula(const char *formula, std::int32_t *result,
                                         cv_uac_variable_lookup lookup, cv_btree *variables,
                                         const cv_uac_function_registry *registry,
                                         char *error_text);

/* Calls the function of `registry` named exactly `name` with copies of
 * `argument` and `value` (null: none) from `scratch`, both trimmed of white
 * space, and returns its status with its result in `*result`.  2 with
 * "Function %s() not found" when there is none; 8 with "Unable to allocate
 * workspace" when the copies cannot be made; 22 for null arguments. */
[[nodiscard]] cv_status call_rule_function(const char *name, const char *argument,
                                           const char *value, std::int32_t *result,
                                           const cv_uac_function_registry *registry,
                                           char *error_text, cv_uac_heap *scratch);

/* The fitness of `element` from its rule attributes, walked in document
 * order: the attribute named `formula_attribute` (null: "fitness") holds a
 * formula; an attribute whose name begins with a registered function's name
 * (the longest such) is that function's rule with the value as its
 * argument; any other attribute except `state` that names a variable of
 * `variables` is the rule of the function named like the attribute; the
 * rest are no rules.  A shorthand value reaches its function exactly as
 * written: it is quoted with a quote character it lacks (name="value"), and
 * a value holding all four ("'#$) or a rule name(value) longer than
 * CV_UAC_SHORTHAND_FORMULA_MAX is refused with a log line.  0 without
 * rules (also for a null element), 2 x (sum of the results) - 1 clamped to
 * 32 bits with rules, -1 as soon as one rule fails or is refused (its text
 * in `error_text`, which may be null). */
std::int32_t parse_xml_eval_fitness(xmlNode *element, cv_uac_variable_lookup lookup,
                                    cv_btree *variables, const cv_uac_function_registry *registry,
                                    char *error_text, const char *formula_attribute);

/* The search engine's scorer: parse_xml_eval_fitness with the tree look-up
 * and, as registry, `fitness_extra` when it is not null (a
 * cv_uac_function_registry *), else the process-wide one. */
std::int32_t cv_uac_fitness_callback(xmlNode *element, cv_btree *variables, void *fitness_extra,
                                     std::uint8_t fitness_flags);

/* Framework start-up of the rules: registers the built-in functions in the
 * process-wide registry and installs cv_uac_fitness_callback as the search
 * engine's scorer.  0, or the registration's status (nothing installed). */
[[nodiscard]] cv_status cv_uac_fitness_install();

/* Undoes cv_uac_fitness_install: restores the built-in scorer and empties
 * the process-wide registry. */
void cv_uac_fitness_uninstall();

/* The variable tree that scores string-list items when a read is given
 * none (null until set; the framework's start-up sets it). */
cv_btree *cv_uac_default_variable_tree();
void cv_uac_set_default_variable_tree(cv_btree *variables);

/* The built-in rule functions, for registration under other names. */
cv_status cv_uac_rule_cookie(const char *argument, const char *value, std::int32_t *result,
                             char *error_text);
cv_status cv_uac_rule_peer_domain(const char *argument, const char *value, std::int32_t *result,
                                  char *error_text);
cv_status cv_uac_rule_classes(const char *argument, const char *value, std::int32_t *result,
                              char *error_text);
cv_status cv_uac_rule_peer_ip(const char *argument, const char *value, std::int32_t *result,
                              char *error_text);
