// Expands the rows of the class being declared, each as CV_UAC_OPTION(key,
// type, (path...), default, lookup) with the caller's CV_UAC_OPTION: the
// X-macro list CV_UAC_CLASS_ROW_LIST when one is given, else the .def file
// CV_UAC_CLASS_ROWS.  Included several times by cv_uac_class_declare.h.
#if defined(CV_UAC_CLASS_ROW_LIST)
CV_UAC_CLASS_ROW_LIST(CV_UAC_OPTION)
#else
#include CV_UAC_CLASS_ROWS
#endif
