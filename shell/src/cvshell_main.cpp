// cvshell: the restricted login shell of the transfer server.
//
// The shell opens its log before anything else.  Command acceptance and launch
// are not built yet: every login is refused and logged, with exit status 0 and
// nothing on the console, as for any argument form the shell does not accept.
#include "cvplatform/cv_log.h"

int main(int argc, char **argv) {
    cv_log_init(1, "corvane-cvshell.log");
    for (int i = 1; i < argc; ++i) cv_log_info("Arg: %s", argv[i]);
    cv_log_info("Illegal cvshell use command=%s user=%s client=%s", "shell", "unknown", "unknown");
    cv_log_close();
    return 0;
}
