// The framework's counted start and end and the process-wide state they own.
//
// Only the first start builds the state and only the last end tears it
// down; the calls in between only count, so that the shell and any library
// it loads may each start and end the framework on their own.  A start that
// fails half-way runs the same tear-down as the last end, so the framework
// is either wholly up or wholly down.
#include <cstdlib>
#include <string_view>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_fitness.h"
#include "uac_internal.h"

uac_framework_state &uac_state() {
    static uac_framework_state state;
    return state;
}

namespace {

void release_providers(uac_framework_state &s) {
    cv_uac_group_provider *provider = s.providers;
    s.providers = nullptr;
    s.provider_tail = &s.providers;
    while (provider) {
        // A provider frees itself, so its link is read first.
        cv_uac_group_provider *next = provider->next;
        if (provider->release) provider->release(provider);
        provider = next;
    }
}

void run_cleanups(uac_framework_state &s) {
    while (uac_cleanup_entry *entry = s.cleanups) {
        s.cleanups = entry->next;
        entry->function(entry->argument);
        cv_uac_free(entry);
    }
}

/* Everything the first start builds, undone in the order of the last end. */
void tear_down(uac_framework_state &s) {
    cv_uac_set_default_variable_tree(nullptr);
    (void)cv_btree_destroy(s.global_variables, nullptr);
    s.global_variables = nullptr;
    release_providers(s);
    cv_uac_fitness_uninstall();
    run_cleanups(s);
    uac_discard_master_group_set();
    parse_xml_deinitialize();
}

/* The host variables; a host name that cannot be read is logged and leaves
 * both unset, which only rules comparing with them notice. */
cv_status set_host_variables_from_system(cv_btree *variables) {
    char host_name[CV_UAC_HOST_NAME_SIZE];
    if (cv_get_host_name(host_name, sizeof host_name) != CV_OK) {
        cv_log_error("Unable to determine hostname for configuration use");
        return CV_OK;
    }
    return cv_uac_set_host_variables(variables, host_name);
}

cv_status start_up(uac_framework_state &s, cv_uac_provider_registration register_providers) {
    if (cv_status status = parse_xml_initialize(); status != CV_OK) return status;
    cv_status status = cv_btree_create_strings(&s.global_variables);
    if (status == CV_OK) status = set_host_variables_from_system(s.global_variables);
    if (status == CV_OK) {
        cv_net_startup();
        status = cv_uac_fitness_install();
    }
    if (status != CV_OK) {
        tear_down(s);
        return status;
    }
    cv_uac_set_default_variable_tree(s.global_variables);
    if (register_providers) register_providers(&s.provider_tail);
    return CV_OK;
}

}  // namespace

void uac_hand_groups_to_providers(const cv_uac_master_group_set *groups) {
    static const cv_uac_master_group_set kNoGroups{0, nullptr};
    for (cv_uac_group_provider *provider = uac_state().providers; provider;
         provider = provider->next)
        if (provider->set_groups) provider->set_groups(groups ? groups : &kNoGroups, provider);
}

void uac_discard_master_group_set() {
    uac_framework_state &s = uac_state();
    if (!s.master_groups) return;
    // Providers keep the set they were given; they must let go of it first.
    uac_hand_groups_to_providers(nullptr);
    cv_uac_free(s.master_groups);
    s.master_groups = nullptr;
    s.master_groups_source = nullptr;
}

cv_status cv_uac_init(cv_uac_provider_registration register_providers) {
    uac_framework_state &s = uac_state();
    if (s.init_count >= CV_UAC_INIT_LIMIT) return CV_E_INVALID;
    if (s.init_count == 0) {
        if (cv_status status = start_up(s, register_providers); status != CV_OK) return status;
    }
    ++s.init_count;
    return CV_OK;
}

void cv_uac_deinit() {
    uac_framework_state &s = uac_state();
    if (s.init_count == 0) return;
    if (--s.init_count == 0) tear_down(s);
}

std::int32_t cv_uac_init_count() { return uac_state().init_count; }

cv_btree *cv_uac_global_variables() { return uac_state().global_variables; }

cv_status cv_uac_set_host_variables(cv_btree *variables, const char *host_name) {
    if (!variables || !host_name) return CV_E_INVALID;
    const std::string_view whole(host_name);
    const std::string_view short_name = whole.substr(0, whole.find('.'));
    char short_text[CV_UAC_HOST_NAME_SIZE];
    if (short_name.size() >= sizeof short_text) return CV_E_INVALID;
    (void)cv_str_to(short_text, short_name.data(), short_name.size(), sizeof short_text, nullptr);
    if (cv_status status = cv_btree_set(variables, CV_UAC_VARIABLE_HOSTNAME, host_name);
        status != CV_OK)
        return status;
    return cv_btree_set(variables, CV_UAC_VARIABLE_SHORT_HOSTNAME, short_text);
}

cv_status cv_uac_push_cleanup(cv_uac_cleanup_function function, void *argument) {
    if (!function) return CV_E_INVALID;
    auto *entry = static_cast<uac_cleanup_entry *>(
        CV_UAC_MALLOC(sizeof(uac_cleanup_entry), "Clean-up entry.  It will not run at the end"));
    if (!entry) return CV_E_NO_MEMORY;
    uac_framework_state &s = uac_state();
    *entry = {function, argument, s.cleanups};
    s.cleanups = entry;
    return CV_OK;
}

std::int32_t cv_uac_config_object_count() { return uac_state().config_objects.load(); }

std::int32_t cv_uac_config_object_count_add(std::int32_t delta) {
    return uac_state().config_objects.fetch_add(delta) + delta;
}
