#include "cvconf.h"
int cvconf_test(const cvconf_args &) {
    return cvconf_fail(CVCONF_EXIT_ERROR, "test: not built yet");
}
