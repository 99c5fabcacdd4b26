// The `trunk` class: its catalogue, its descriptor and the look-up of a
// trunk by id.
//
// A trunk is found by its number, not by its text: every `trunks/trunk`
// element at the configuration's root whose `id` reads as the wanted number
// takes part ("7", "07" and "0x7" are the same trunk), and the loader picks
// each option from them by fitness like any other object.  A trunk's
// override file holds its `trunks/trunk` element with the id.
#include <cstddef>

#include "cvplatform/cv_str.h"
#include "uac/cv_uac_classes.h"

namespace {

/* Bytes of a 32-bit number written in decimal, terminator included. */
constexpr std::size_t kIdTextSize = 16;

/* A trunk override goes where the look-up finds trunks, with the id that
 * selects it. */
constexpr std::int32_t kConfDPath[] = {PARSE_XML_TAG_trunks, PARSE_XML_TAG_trunk, PARSE_XML_END};
constexpr const char *kConfDKeys[] = {"trunk_id", nullptr};

}  // namespace

CV_UAC_DEFINE_CLASS(trunk, CV_UAC_TRUNK_CLASS_FLAGS, cv_uac_base_class, kConfDPath, kConfDKeys);

cv_status cv_uac_get_trunk(const cv_uac_conf_set *set, std::uint32_t id, cv_uac_trunk **trunk) {
    if (!trunk) return CV_E_INVALID;
    *trunk = nullptr;
    char id_text[kIdTextSize];
    (void)cv_snprintf(id_text, sizeof id_text, "%u", id);

    xmlNode *found[CV_UAC_MAX_FOUND_NODES + 1] = {};
    std::size_t count = 0;
    if (set) {
        parse_xml_search_handle *handle = nullptr;
        for (xmlNode *node = parse_xml_get_first_matching_node_args(
                 set->roots, &handle, PARSE_XML_TAG_trunks, PARSE_XML_TAG_trunk,
                 PARSE_XML_NUMBER_EQUALS, id_text, PARSE_XML_TAG_id,
                 PARSE_XML_TAG_Move_Up_to_Parent, PARSE_XML_END);
             node && count < CV_UAC_MAX_FOUND_NODES;
             node = parse_xml_get_next_matching_node(handle, nullptr))
            found[count++] = node;
        if (handle) (void)parse_xml_free_search_handle(handle);
    }
    const cv_uac_load_request request{set, count > 0 ? found : nullptr, nullptr, nullptr, 0};
    cv_uac_config_object *object = nullptr;
    const cv_status status = cv_uac_config_load(&cv_uac_trunk_class, &request, &object);
    *trunk = reinterpret_cast<cv_uac_trunk *>(object);
    // A trunk the configuration does not describe is still the trunk of
    // that id, so that an override written for it lands on that trunk.
    if (*trunk && count == 0) (*trunk)->trunk_id = id;
    return status;
}
