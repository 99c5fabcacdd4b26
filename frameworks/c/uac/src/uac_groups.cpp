// The master group set: every named group entry of a configuration set,
// cross-referenced by the group providers.
//
// The set is one allocation (count, then the entries, then the names they
// point at) sorted by ascending precedence, so that a provider's bit numbers
// give the groups in the order their settings apply.  Names are kept whole,
// whatever their length: two groups whose names merely begin alike must
// never become one group.  The sort is stable: groups of equal precedence keep
// the order in which the configuration lists them.  A precedence is only
// taken when it is a finite number, because one unordered value (NaN) would
// leave the order of the whole set undefined.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#include "cvplatform/cv_log.h"
#include "uac_internal.h"

namespace {

/* The text of the first `name` child of `element`, or null. */
const char *name_of(xmlNode *element) {
    xmlNode *const start[] = {element, nullptr};
    return parse_xml_get_first_matching_text_args(start, PARSE_XML_TAG_name, PARSE_XML_END);
}

/* The `name` of the realm that holds `group` (group -> groups -> realm). */
const char *realm_name_of(xmlNode *group) {
    xmlNode *const start[] = {group, nullptr};
    return parse_xml_get_first_matching_text_args(start, PARSE_XML_TAG_Move_Up_to_Parent,
                                                  PARSE_XML_TAG_Move_Up_to_Parent,
                                                  PARSE_XML_TAG_name, PARSE_XML_END);
}

/* The group's precedence: its text as a finite decimal number, white space
 * around it allowed; anything else counts as absent. */
double precedence_of(xmlNode *group) {
    xmlNode *const start[] = {group, nullptr};
    const char *text =
        parse_xml_get_first_matching_text_args(start, PARSE_XML_TAG_precedence, PARSE_XML_END);
    if (!text) return CV_UAC_DEFAULT_PRECEDENCE;
    char *end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || !std::isfinite(value)) return CV_UAC_DEFAULT_PRECEDENCE;
    while (*end == ' ' || (*end >= '\t' && *end <= '\r')) ++end;
    return *end == '\0' ? value : CV_UAC_DEFAULT_PRECEDENCE;
}

/* Offset of the entries behind the count, aligned for them. */
constexpr std::size_t kEntriesOffset =
    (sizeof(cv_uac_master_group_set) + alignof(cv_uac_group_entry) - 1) /
    alignof(cv_uac_group_entry) * alignof(cv_uac_group_entry);

/* Bytes still free after `used` in a set of `total` bytes, or 0. */
constexpr std::size_t room_after(std::size_t used, std::size_t total) {
    return used < total ? total - used : 0;
}

cv_status build_master_group_set(const cv_uac_conf_set *set, cv_uac_master_group_set **built) {
    *built = nullptr;
    // First pass: how many named groups, and how many bytes their trimmed
    // names and realm names take with a terminator each.
    std::size_t count = 0;
    std::size_t text_bytes = 0;
    bool overflow = false;
    const auto add_text = [&](const char *text) {
        const std::size_t size = uac_trimmed(text).size() + 1;
        if (text_bytes > std::numeric_limits<std::size_t>::max() - size)
            overflow = true;
        else
            text_bytes += size;
    };
    uac_for_each_match(set, UAC_GROUP_PATH, [&](xmlNode *group) {
        const char *name = name_of(group);
        if (!name) return;
        ++count;
        add_text(name);
        add_text(realm_name_of(group));
    });

    constexpr std::size_t kMaxCount =
        (std::numeric_limits<std::size_t>::max() - kEntriesOffset) / sizeof(cv_uac_group_entry);
    const bool fits = !overflow && count <= kMaxCount &&
                      count <= std::numeric_limits<std::uint32_t>::max() &&
                      text_bytes <= std::numeric_limits<std::size_t>::max() - kEntriesOffset -
                                        count * sizeof(cv_uac_group_entry);
    const std::size_t texts_offset =
        kEntriesOffset + (fits ? count * sizeof(cv_uac_group_entry) : 0);
    const std::size_t bytes =
        fits ? texts_offset + text_bytes : std::numeric_limits<std::size_t>::max();
    void *memory = fits ? CV_UAC_MALLOC(bytes, nullptr) : nullptr;
    if (!memory) {
        cv_log_error(
            "Unable to allocate master group set.  Bytes needed = %zu.  Group cross referencing "
            "will fail.",
            bytes);
        return CV_E_NO_MEMORY;
    }
    auto *groups = static_cast<cv_uac_master_group_set *>(memory);
    groups->entries =
        reinterpret_cast<cv_uac_group_entry *>(static_cast<char *>(memory) + kEntriesOffset);
    groups->count = 0;

    // Second pass: the entries, and their texts behind them.  The same
    // search yields the same groups; the bounds only guard the allocation.
    char *texts = static_cast<char *>(memory) + texts_offset;
    std::size_t used = 0;
    const auto place_text = [&](const char *text) -> const char * {
        const std::string_view view = uac_trimmed(text);
        if (view.size() + 1 > room_after(used, text_bytes)) return nullptr;
        char *placed = texts + used;
        std::memcpy(placed, view.data(), view.size());
        placed[view.size()] = '\0';
        used += view.size() + 1;
        return placed;
    };
    uac_for_each_match(set, UAC_GROUP_PATH, [&](xmlNode *group) {
        const char *name = name_of(group);
        if (!name) {
            cv_log_error("Nameless group found in conf file.  Can not possibly have any members!");
            return;
        }
        if (groups->count == count) return;
        const char *whole_name = place_text(name);
        const char *realm = place_text(realm_name_of(group));
        if (!whole_name || !realm) return;
        groups->entries[groups->count++] = {whole_name, realm, precedence_of(group), group};
    });

    std::stable_sort(groups->entries, groups->entries + groups->count,
                     [](const cv_uac_group_entry &a, const cv_uac_group_entry &b) {
                         return a.precedence < b.precedence;
                     });
    *built = groups;
    return CV_OK;
}

}  // namespace

cv_status cv_uac_select_master_conf_file_set(const cv_uac_conf_set *set) {
    uac_framework_state &s = uac_state();
    cv_uac_master_group_set *previous = s.master_groups;
    s.master_groups = nullptr;
    s.master_groups_source = nullptr;

    cv_uac_master_group_set *groups = nullptr;
    const cv_status status = set ? build_master_group_set(set, &groups) : CV_OK;
    s.master_groups = groups;
    s.master_groups_source = groups ? set : nullptr;
    // The providers let go of the previous set before it is freed.
    if (groups || previous) uac_hand_groups_to_providers(groups);
    cv_uac_free(previous);
    return status;
}

const cv_uac_master_group_set *cv_uac_get_master_group_set() { return uac_state().master_groups; }
