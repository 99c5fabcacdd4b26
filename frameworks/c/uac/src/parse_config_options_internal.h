// Shared pieces of the option model's sources: where an option's value and
// words live in an object, the generic form's look-ups, and the base
// class's slots that live in the serialization and conf.d sources.
#pragma once

#include <cstddef>
#include <string_view>
#include <cstdint>

#include "uac/cv_uac_config.h"

namespace cv_uac_config_impl {

/* The value field of catalogue row `index` in `object`. */
void *value_field(cv_uac_config_object *object, std::size_t index);

/* The source-element and alternates words of option `index`. */
xmlNode **source_word(cv_uac_config_object *object, std::size_t index);
xmlNode ***alternates_word(cv_uac_config_object *object, std::size_t index);

/* The generic form's entry named `name`, or null; `warnings` (may be null)
 * gets "%s objects have no member named %s" for an unknown name. */
cv_uac_generic_entry *entry_by_name(cv_uac_config_object *object, const char *name,
                                    cv_uac_warning **warnings);

/* Applies override `text` to `entry` of `object` (the common part of
 * set_by_name and set_by_index).  `*applied` (may be null) gets the text
 * the option was set from, without a condition, or null when nothing was
 * applied. */
cv_status set_entry(cv_uac_config_object *object, cv_uac_generic_entry *entry, const char *text,
                    cv_uac_warning **warnings, const char **applied);

/* A variable tree holding the framework's variables and then `extra` (may
 * be null) in `*tree`.  0, or the failing status with `*tree` null. */
cv_status make_variable_tree(cv_btree *extra, cv_btree **tree);

/* The base class's slots of the serialization and conf.d sources. */
cv_status base_serialize(cv_uac_config_object *object, const char *indent, const char *unit,
                         std::int32_t all, cv_uac_serialize_formatter formatter,
                         void *formatter_context, char **xml);
cv_status base_duplicate(cv_uac_config_object *object, cv_uac_config_object **copy);
cv_status base_write_conf_d_override(cv_uac_config_object *object, cv_uac_conf_set **set_holder,
                                     cv_uac_warning **warnings, const char *name, const char *text,
                                     const char *directory);

/* The build and validate slots of the `user` class
 * (parse_config_options_user_build.cpp). */
cv_status user_build(cv_uac_config_object *object, const cv_uac_load_request *request);
cv_status user_validate(cv_uac_config_object *object, cv_uac_warning **warnings,
                        std::int32_t strictness);

/* Loads `open`, `fragment` and `close` joined, as a configuration of its
 * own without conf.d, into `*set`; the buffer is sized to the text, which is
 * never cut.  0; 8 when the buffer cannot be had; 28682 when the text does
 * not load. */
cv_status load_wrapped_fragment(std::string_view open, const char *fragment,
                                std::string_view close, cv_uac_conf_set **set);

}  // namespace cv_uac_config_impl
