// The elements of an entry that no option of a class reads.
//
// Two passes over the entry's document.  The first follows every option's
// path from the entry as a search would (every child with the step's tag,
// or the parent for Move_Up_to_Parent) and collects each element it passes
// through or ends on, then what the option's type reads below the last one.
// The second walks the entry's subtree in document order and keeps every
// element the first did not collect.  The cost is the elements the paths
// touch plus one walk of the subtree, each element of it looked up once in
// the sorted collection; a path that climbs to a parent follows each
// (element, step) once, however many siblings it climbs from.
#include "uac/cv_uac_unread.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <set>
#include <span>
#include <vector>

#include "uac/cv_uac_memory_heap.h"
#include "uac/cv_uac_types.h"
#include "uac/parse_xml.h"

namespace {

constexpr const char *kListLabel = "Unread element list.  The list will not be available";

/* What a schedule's reader looks at below the option's element. */
constexpr std::int32_t kScheduleOnly[] = {PARSE_XML_TAG_schedule, PARSE_XML_END};
constexpr std::int32_t kScheduleEpoch[] = {PARSE_XML_TAG_schedule, PARSE_XML_TAG_change_points,
                                           PARSE_XML_TAG_change_point, PARSE_XML_TAG_epoch,
                                           PARSE_XML_END};
constexpr std::int32_t kScheduleValue[] = {PARSE_XML_TAG_schedule, PARSE_XML_TAG_change_points,
                                           PARSE_XML_TAG_change_point, PARSE_XML_TAG_value,
                                           PARSE_XML_END};
constexpr std::int32_t kPlainValue[] = {PARSE_XML_TAG_value, PARSE_XML_END};
constexpr const std::int32_t *kSchedulePaths[] = {kScheduleOnly, kScheduleEpoch, kScheduleValue,
                                                  kPlainValue};

using node_list = std::vector<const xmlNode *>;

bool is_element(const xmlNode *node) { return node && node->type == XML_ELEMENT_NODE; }

std::int32_t tag_of(const xmlNode *element) {
    return parse_xml_tag_index(reinterpret_cast<const char *>(element->name));
}

/* The places a path that climbs has been at: (element, step) pairs. */
using visit_set = std::set<std::pair<const xmlNode *, const std::int32_t *>>;

/* Collects into `read` every element `path` passes through from `node`
 * and the elements it ends on (into `ends`, when not null).  A path that
 * climbs can come back to an element it has been at on the same step, once
 * from each sibling it climbed from; `visited` (null for a path that only
 * descends, which cannot) lets each place be followed once, so the walk
 * stays linear in the elements it touches. */
void follow(const xmlNode *node, const std::int32_t *path, node_list &read, node_list *ends,
            visit_set *visited) {
    if (visited && !visited->emplace(node, path).second) return;
    if (*path == PARSE_XML_END) {
        if (ends) ends->push_back(node);
        return;
    }
    if (*path == PARSE_XML_TAG_Move_Up_to_Parent) {
        if (is_element(node->parent)) {
            read.push_back(node->parent);
            follow(node->parent, path + 1, read, ends, visited);
        }
        return;
    }
    for (const xmlNode *child = node->children; child; child = child->next) {
        if (!is_element(child) || tag_of(child) != *path) continue;
        read.push_back(child);
        follow(child, path + 1, read, ends, visited);
    }
}

bool climbs(const std::int32_t *path) {
    for (; *path != PARSE_XML_END; ++path)
        if (*path == PARSE_XML_TAG_Move_Up_to_Parent) return true;
    return false;
}

/* Collects what a value of `row`'s type reads below its element `end`. */
void follow_value(const cv_uac_option &row, const xmlNode *end, node_list &read) {
    if (row.type == CV_UAC_TYPE_STRING_LIST) {
        const std::int32_t item[] = {cv_uac_string_list_item_tag(row.lookup), PARSE_XML_END};
        follow(end, item, read, nullptr, nullptr);
    } else if (row.type == CV_UAC_TYPE_CRON) {
        for (const std::int32_t *path : kSchedulePaths) follow(end, path, read, nullptr, nullptr);
    }
}

void collect_read(const cv_uac_class &cls, const xmlNode *entry, node_list &read) {
    node_list ends;
    visit_set visited;
    for (const cv_uac_option &row : std::span(cls.catalogue, cls.option_count)) {
        ends.clear();
        visited.clear();
        follow(entry, row.path, read, &ends, climbs(row.path) ? &visited : nullptr);
        for (const xmlNode *end : ends) follow_value(row, end, read);
    }
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
}

/* Appends the elements below `parent` that `read` lacks, in document order. */
void collect_unread(const xmlNode *parent, const node_list &read, node_list &unread) {
    for (const xmlNode *child = parent->children; child; child = child->next) {
        if (!is_element(child)) continue;
        if (!std::binary_search(read.begin(), read.end(), child)) unread.push_back(child);
        collect_unread(child, read, unread);
    }
}

}  // namespace

cv_status cv_uac_list_unread_elements(const cv_uac_class *cls, const xmlNode *entry,
                                      cv_uac_unread_element **elements, std::size_t *count) {
    if (elements) *elements = nullptr;
    if (count) *count = 0;
    if (!cls || !entry || !elements || !count) return CV_E_INVALID;
    node_list unread;
    try {
        node_list read;
        collect_read(*cls, entry, read);
        collect_unread(entry, read, unread);
    } catch (const std::bad_alloc &) {
        return CV_E_NO_MEMORY;
    }
    if (unread.empty()) return CV_OK;

    auto *list = static_cast<cv_uac_unread_element *>(
        CV_UAC_MALLOC(unread.size() * sizeof(cv_uac_unread_element), kListLabel));
    if (!list) return CV_E_NO_MEMORY;
    for (std::size_t i = 0; i < unread.size(); ++i) {
        const xmlNode *element = unread[i];
        list[i] = {element, reinterpret_cast<const char *>(element->name),
                   xmlGetLineNo(element)};
    }
    *elements = list;
    *count = unread.size();
    return CV_OK;
}
