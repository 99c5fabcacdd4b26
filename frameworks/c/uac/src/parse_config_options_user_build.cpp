// The build and validate steps of the `user` class.
//
// The build step runs right after a user object has been read (and once,
// without a request, on the defaults object): it derives the user name
// and domain, fills the object's variables and attaches the incoming and
// outgoing trunk, the docroot list and the logging object that the user's
// options point to.  Validation checks the values against each other and
// reports what does not fit through report_setting; it changes nothing.
// Neither does anything yet: a user object holds its options and no
// attachments, and every user passes validation.
#include "parse_config_options_internal.h"

namespace cv_uac_config_impl {

cv_status user_build(cv_uac_config_object *, const cv_uac_load_request *) { return CV_OK; }

cv_status user_validate(cv_uac_config_object *, cv_uac_warning **, std::int32_t) {
    return CV_OK;
}

}  // namespace cv_uac_config_impl
