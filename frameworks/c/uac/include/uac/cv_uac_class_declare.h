// Declares config class CV_UAC_CLASS from its rows (see
// cv_uac_class_recipe.h).  Parameters, defined before including this file
// and undefined by it:
//   CV_UAC_CLASS           the class token, e.g. trunk;
//   CV_UAC_CLASS_ROWS      the rows' .def file, e.g. "uac/cv_uac_trunk_options.def",
//   or CV_UAC_CLASS_ROW_LIST  an X-macro list of the same rows;
//   CV_UAC_CLASS_MEMBERS   (optional) members the class keeps before its
//                          values, such as objects its build step attaches;
//   CV_UAC_CLASS_NOTE      (optional) a constexpr function from an option's
//                          key to its quoted note; cv_uac_no_note ("0") by
//                          default.
// It declares:
//   cv_uac_C_option_count  the number of rows;
//   struct cv_uac_C        the config object: the common members, the
//                          class's own members, one value field per row in
//                          row order (of the row type's storage), then the
//                          per-option words;
//   cv_uac_C_catalogue     the catalogue table, one cv_uac_option per row;
//   cv_uac_C_class         the descriptor (defined by CV_UAC_DEFINE_CLASS);
//   cv_uac_C_defaults()    the class's defaults object (never released).
// No include guard: it is included once per class.
#include "uac/cv_uac_class_recipe.h"

#if !defined(CV_UAC_CLASS) || (!defined(CV_UAC_CLASS_ROWS) && !defined(CV_UAC_CLASS_ROW_LIST))
#error "cv_uac_class_declare.h needs CV_UAC_CLASS and CV_UAC_CLASS_ROWS or CV_UAC_CLASS_ROW_LIST"
#endif
#ifndef CV_UAC_CLASS_MEMBERS
#define CV_UAC_CLASS_MEMBERS
#endif
#ifndef CV_UAC_CLASS_NOTE
#define CV_UAC_CLASS_NOTE cv_uac_no_note
#endif

inline constexpr std::size_t CV_UAC_CLASS_NAME_(CV_UAC_CLASS, _option_count) = 0
#define CV_UAC_OPTION(key, type, path, default_text, lookup) +1
#include "uac/cv_uac_class_rows.h"
#undef CV_UAC_OPTION
    ;

struct CV_UAC_CLASS_NAME_(CV_UAC_CLASS, ) {
    cv_uac_config_object object;
    CV_UAC_CLASS_MEMBERS
#define CV_UAC_OPTION(key, type, path, default_text, lookup) cv_uac_value_##type key;
#include "uac/cv_uac_class_rows.h"
#undef CV_UAC_OPTION
    cv_uac_option_words<CV_UAC_CLASS_NAME_(CV_UAC_CLASS, _option_count)> words;
};

#define CV_NULL nullptr
inline constexpr cv_uac_option CV_UAC_CLASS_NAME_(CV_UAC_CLASS, _catalogue)[] = {
#define CV_UAC_OPTION(key, type, path, default_text, lookup)                                    \
    CV_UAC_CATALOGUE_ROW(CV_UAC_CLASS_NAME_(CV_UAC_CLASS, ), key, type, path, default_text,     \
                         lookup, #lookup, CV_UAC_CLASS_NOTE(#key)),
#include "uac/cv_uac_class_rows.h"
#undef CV_UAC_OPTION
};
#undef CV_NULL

extern cv_uac_class CV_UAC_CLASS_NAME_(CV_UAC_CLASS, _class);
CV_UAC_CLASS_NAME_(CV_UAC_CLASS, ) * CV_UAC_CLASS_NAME_(CV_UAC_CLASS, _defaults)();

#undef CV_UAC_CLASS
#undef CV_UAC_CLASS_ROWS
#undef CV_UAC_CLASS_ROW_LIST
#undef CV_UAC_CLASS_MEMBERS
#undef CV_UAC_CLASS_NOTE
