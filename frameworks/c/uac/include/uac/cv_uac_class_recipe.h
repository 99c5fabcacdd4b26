// The class recipe: how a config class is made from its option rows.
//
// A class is its rows (a .def file of CV_UAC_OPTION(key, type, (path...),
// default, lookup) lines, or an X-macro list of the same rows), the few
// named functions of behaviour that is not data (validate, build,
// on_change, release), and two short steps:
//
//   in a header, the rows are turned into the class's struct, its option
//   count and its catalogue table by cv_uac_class_declare.h:
//
//       #define CV_UAC_CLASS trunk
//       #define CV_UAC_CLASS_ROWS "uac/cv_uac_trunk_options.def"
//       #include "uac/cv_uac_class_declare.h"
//
//   in one source file, one line registers the class descriptor and the
//   defaults accessor:
//
//       CV_UAC_DEFINE_CLASS(trunk, CV_UAC_TRUNK_CLASS_FLAGS, cv_uac_base_class,
//                           kConfDPath, kConfDKeys);
//
// Both steps name things after the class token C: the struct cv_uac_C,
// cv_uac_C_option_count, cv_uac_C_catalogue, the descriptor cv_uac_C_class
// (class name "C") and cv_uac_C *cv_uac_C_defaults().  The struct's value
// fields and the catalogue's rows come from the same rows, so the two cannot
// drift apart, and every other table (override, path, generic form,
// defaults object) is derived from the catalogue when the class is set up.
#pragma once

#include <string_view>

#include "uac/cv_uac_config.h"

/* The note of an option without one. */
constexpr const char *cv_uac_no_note(std::string_view) { return "0"; }

/* Pastes the class token into a name: CV_UAC_CLASS_NAME_(trunk, _class) is
 * cv_uac_trunk_class.  The indirection lets `c` be a macro itself. */
#define CV_UAC_CLASS_NAME_(c, suffix) CV_UAC_CLASS_PASTE_(c, suffix)
#define CV_UAC_CLASS_PASTE_(c, suffix) cv_uac_##c##suffix

/* The descriptor of class C (declared by cv_uac_class_declare.h) with
 * flags `class_flags` and parent `parent_class`, and its defaults accessor.
 * `conf_d_path` and `conf_d_keys` give where a conf.d override file puts
 * an object of the class (null: the element named like the class, no keys;
 * see cv_uac_class).  The remaining arguments are designated initializers
 * of the slots the class fills, in slot order (.validate, .duplicate,
 * .build, .release_hook, .on_change ...); every other slot is inherited
 * from the parent when the class is first used. */
// clang-format off
#define CV_UAC_DEFINE_CLASS(C, class_flags, parent_class, conf_d_path_, conf_d_keys_, ...)   \
    cv_uac_class cv_uac_##C##_class = {                                                       \
        .flags = class_flags,                                                                 \
        .parent = &parent_class,                                                              \
        .destroy = cv_uac_config_destroy,                                                     \
        .class_init = cv_uac_class_init,                                                      \
        __VA_ARGS__ __VA_OPT__(,)                                                             \
        .name = #C,                                                                           \
        .catalogue = cv_uac_##C##_catalogue,                                                  \
        .option_count = cv_uac_##C##_option_count,                                            \
        .layout = CV_UAC_OBJECT_LAYOUT(cv_uac_##C),                                           \
        .conf_d_path = conf_d_path_,                                                          \
        .conf_d_keys = conf_d_keys_,                                                          \
    };                                                                                        \
    cv_uac_##C *cv_uac_##C##_defaults() {                                                     \
        return reinterpret_cast<cv_uac_##C *>(cv_uac_class_defaults(&cv_uac_##C##_class));  \
    }                                                                                         \
    static_assert(true, "a class definition ends with a semicolon")
// clang-format on
