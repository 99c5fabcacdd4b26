// Process-wide state of the framework's start and end, shared by the
// sources of cv_uac.h: the start count, the global variables, the group
// providers, the clean-up stack and the master group set; and the removal
// of a file from a configuration set, which the conf.d override writer uses.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "uac/cv_uac.h"

struct uac_cleanup_entry {
    cv_uac_cleanup_function function;
    void *argument;
    uac_cleanup_entry *next;  /* the entry pushed before this one */
};

struct uac_framework_state {
    std::int32_t init_count = 0;
    cv_btree *global_variables = nullptr;
    cv_uac_group_provider *providers = nullptr;
    /* The link where the next provider goes: &providers or the last
     * provider's `next`. */
    cv_uac_group_provider **provider_tail = &providers;
    uac_cleanup_entry *cleanups = nullptr;
    cv_uac_master_group_set *master_groups = nullptr;
    /* The conf set the master group set points into. */
    const cv_uac_conf_set *master_groups_source = nullptr;
    std::atomic<std::int32_t> config_objects{0};
};

uac_framework_state &uac_state();

/* Where the configured groups are: aaa/realms/realm/groups/group. */
inline constexpr std::int32_t UAC_GROUP_PATH[] = {PARSE_XML_TAG_aaa,    PARSE_XML_TAG_realms,
                                                  PARSE_XML_TAG_realm,  PARSE_XML_TAG_groups,
                                                  PARSE_XML_TAG_group,  PARSE_XML_END};

/* `text` (null: "") without the white space around it. */
inline std::string_view uac_trimmed(const char *text) {
    const auto is_space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    std::string_view view(text ? text : "");
    while (!view.empty() && is_space(view.front())) view.remove_prefix(1);
    while (!view.empty() && is_space(view.back())) view.remove_suffix(1);
    return view;
}

/* Visits every element of `path` across `set`, in search order. */
template <typename Visit>
void uac_for_each_match(const cv_uac_conf_set *set, const std::int32_t *path, Visit visit) {
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node(set->roots, &handle, path, nullptr,
                                                           nullptr, nullptr);
         node; node = parse_xml_get_next_matching_node(handle, nullptr))
        visit(node);
    if (handle) (void)parse_xml_free_search_handle(handle);
}

/* Hands `groups` (null: an empty set) to every provider in list order. */
void uac_hand_groups_to_providers(const cv_uac_master_group_set *groups);

/* Frees the master group set after telling the providers there is none. */
void uac_discard_master_group_set();

/* Takes the file read from `path` out of `set` (the later slots move down);
 * its document stays alive, retired, until the set is released.  0, also
 * when the set does not hold the file; 22 for null arguments or a path
 * without a canonical form; 8 when the document cannot be retired (the set
 * is unchanged). */
cv_status uac_conf_set_remove_file(cv_uac_conf_set *set, const char *path);
