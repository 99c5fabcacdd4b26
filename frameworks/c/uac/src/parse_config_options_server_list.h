// The common part of the server-side classes: for the list classes
// (provider, process, rproxy) the release of the objects linked after one
// and the building of a list from the elements a search finds, one object
// per element, linked in the order they are found; for the others their
// loader.
#pragma once

#include "uac/cv_uac_config.h"

namespace cv_uac_config_impl {

/* Lets go of the objects linked after `object`.  The rest is walked here
 * rather than through each object's own release, so that a long list does
 * not nest one release per object; an object that someone else still holds
 * keeps its tail. */
template <typename T>
void release_list_after(T *object) {
    T *rest = object->next;
    object->next = nullptr;
    while (rest) {
        T *after = rest->next;
        const bool last_hold = rest->object.header.lock_count <= 1;
        if (last_hold) rest->next = nullptr;
        cv_uac_config_release(&rest->object);
        if (!last_hold) break;
        rest = after;
    }
}

/* Links objects of class `cls` read from successive elements at the end of
 * a list.  The first failure is kept; an object that could not be made is
 * not linked. */
template <typename T>
class list_builder {
public:
    list_builder(cv_uac_class *cls, const cv_uac_conf_set *set, cv_btree *variables, T **head)
        : cls_(cls), set_(set), variables_(variables), tail_(head) {}

    /* Reads one object from `element` and links it.  The same element met
     * again at once (a search that came back up from two matching
     * children) is taken once. */
    void take(xmlNode *element) {
        if (element == last_) return;
        last_ = element;
        xmlNode *start[2] = {element, nullptr};
        const cv_uac_load_request request{set_, start, variables_, nullptr, 0};
        cv_uac_config_object *object = nullptr;
        const cv_status loaded = cv_uac_config_load(cls_, &request, &object);
        if (loaded != CV_OK || !object) {
            if (status_ == CV_OK) status_ = loaded != CV_OK ? loaded : CV_E_NO_MEMORY;
            return;
        }
        *tail_ = reinterpret_cast<T *>(object);
        tail_ = &(*tail_)->next;
    }

    cv_status status() const { return status_; }

private:
    cv_uac_class *cls_;
    const cv_uac_conf_set *set_;
    cv_btree *variables_;
    T **tail_;
    xmlNode *last_ = nullptr;
    cv_status status_ = CV_OK;
};

/* Takes every match of the search path `tags...` (ending with
 * PARSE_XML_END) from the configuration's roots into `builder`. */
template <typename T, typename... Codes>
void take_matches(const cv_uac_conf_set *set, list_builder<T> &builder, Codes... codes) {
    if (!set) return;
    parse_xml_search_handle *handle = nullptr;
    for (xmlNode *node = parse_xml_get_first_matching_node_args(set->roots, &handle, codes...);
         node; node = parse_xml_get_next_matching_node(handle, nullptr))
        builder.take(node);
    if (handle) (void)parse_xml_free_search_handle(handle);
}

/* Reads a single object of class `cls` from `entries` into `*out` (the
 * loaders of the classes that are no list members). */
template <typename T>
cv_status load_single(cv_uac_class *cls, const cv_uac_conf_set *set, xmlNode *const *entries,
                      cv_btree *variables, std::int32_t alternates, T **out) {
    if (!out) return CV_E_INVALID;
    *out = nullptr;
    const cv_uac_load_request request{set, entries, variables, nullptr, alternates};
    cv_uac_config_object *object = nullptr;
    const cv_status status = cv_uac_config_load(cls, &request, &object);
    *out = reinterpret_cast<T *>(object);
    return status;
}

}  // namespace cv_uac_config_impl
