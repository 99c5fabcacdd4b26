// The registry of config classes: one row per class, in a fixed order.  A
// new class is registered by adding its row here; every tool and test that
// walks the registry then covers it.
#include <cstring>

#include "uac/cv_uac_class_registry.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_server_classes.h"
#include "uac/cv_uac_user.h"

namespace {

#define CV_UAC_REGISTER(C)                                                            \
    cv_uac_class_entry {                                                              \
        #C, &cv_uac_##C##_class, cv_uac_##C##_option_count, cv_uac_config_from_fragment \
    }

const cv_uac_class_entry kClasses[] = {
    CV_UAC_REGISTER(trunk),
    CV_UAC_REGISTER(logging),
    CV_UAC_REGISTER(user),
    CV_UAC_REGISTER(docroot),
    CV_UAC_REGISTER(provider),
    CV_UAC_REGISTER(process),
    CV_UAC_REGISTER(rproxy),
    CV_UAC_REGISTER(database),
    CV_UAC_REGISTER(central_server),
    CV_UAC_REGISTER(http_server),
    CV_UAC_REGISTER(client),
    // A server's text is the content of a <server> element, read back as one.
    cv_uac_class_entry{"server", &cv_uac_server_class, cv_uac_server_option_count,
                       cv_uac_server_from_fragment},
};

#undef CV_UAC_REGISTER

}  // namespace

std::span<const cv_uac_class_entry> cv_uac_registered_classes() { return kClasses; }

const cv_uac_class_entry *cv_uac_registered_class(const char *name) {
    if (!name) return nullptr;
    for (const cv_uac_class_entry &entry : kClasses)
        if (std::strcmp(entry.name, name) == 0) return &entry;
    return nullptr;
}
