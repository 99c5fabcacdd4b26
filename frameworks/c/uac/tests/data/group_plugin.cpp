// A group plug-in for the provider tests.  Its one provider sets the bit of
// every configured group named "from-plugin" and answers
// CV_TEST_GROUP_PLUGIN_ANSWER: built once answering 1 (it ends the
// questioning) and once answering 0 (later providers are still asked).
#include <cstdlib>
#include <cstring>

#include "uac/cv_uac_group_provider.h"

namespace {

constexpr const char *kPluginGroup = "from-plugin";

struct plugin_provider {
    cv_uac_group_provider record;
    const cv_uac_master_group_set *groups;
};

plugin_provider *self(cv_uac_group_provider *provider) {
    return reinterpret_cast<plugin_provider *>(provider);
}

void set_groups(const cv_uac_master_group_set *groups, cv_uac_group_provider *provider) {
    self(provider)->groups = groups;
}

std::int32_t find_user_groups(const char *, const char *, std::uint32_t *group_bits,
                              cv_uac_group_provider *provider) {
    const cv_uac_master_group_set *groups = self(provider)->groups;
    for (std::uint32_t i = 0; groups && i < groups->count; ++i)
        if (std::strcmp(groups->entries[i].name, kPluginGroup) == 0)
            group_bits[i / 32] |= std::uint32_t{1} << (i % 32);
    return CV_TEST_GROUP_PLUGIN_ANSWER;
}

void release(cv_uac_group_provider *provider) { std::free(provider); }

}  // namespace

extern "C" [[gnu::visibility("default")]] void get_external_group_objects(
    cv_uac_group_provider ***tail_holder) {
    auto *provider = static_cast<plugin_provider *>(std::calloc(1, sizeof(plugin_provider)));
    if (!provider) return;
    provider->record = {set_groups, find_user_groups, release, nullptr};
    **tail_holder = &provider->record;
    *tail_holder = &provider->record.next;
}
