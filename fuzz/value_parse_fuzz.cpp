// libFuzzer target of the value parsers: every type's override checker,
// override-to-XML converter, reader and writer on arbitrary text.
//
// Input layout: the first byte chooses the type (modulo 16) and a lookup
// list from a fixed set; the rest, up to its first zero byte, is the text.
// The text is checked, turned into XML and parsed as an override is (which
// reads it through the XML layer), then read again from an element that
// holds it as raw content (so text that XML could not carry reaches the
// readers too); each value is written back and freed.  Any crash,
// sanitizer report, leak or hang is a fault, and so is a written text that
// is not terminated within its buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "uac/cv_uac_types.h"
#include "uac/parse_xml.h"

namespace {

constexpr const char *kLookups[] = {
    nullptr,
    "any:0;high:3;fair:4",
    "1;Unlimited:0xFFFFFFFF",
    "1000;Unlimited:0xFFFFFFFFFFFFF",
    "1;Undefined:37777777777",
    "off:on",
    "power2",
    "\"1;any:-1;none:0;aes-128:1\"",
    "command",
    "-3;x:9223372036854775807",
};

union any_value {
    std::int64_t number;
    cv_uac_range range;
    cv_uac_time time;
    double real;
    char *text;
    cv_uac_cron *cron;
};

void write_and_free(std::int32_t code, any_value *value, const char *lookup) {
    char written[CV_UAC_VALUE_TEXT_SIZE];
    written[sizeof written - 1] = 'x';
    if (cv_uac_type_write(code, value, written, sizeof written, lookup) == 0 &&
        ::strnlen(written, sizeof written) == sizeof written)
        __builtin_trap();
    (void)cv_uac_type_free(code, value, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) { return parse_xml_initialize() == 0 ? 0 : 1; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0) return 0;
    const std::int32_t code = data[0] % CV_UAC_TYPE_COUNT;
    const char *lookup = kLookups[(data[0] / CV_UAC_TYPE_COUNT) % std::size(kLookups)];
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const std::string text(bytes, ::strnlen(bytes, size - 1));

    const char *message = nullptr;
    (void)cv_uac_type_check_override(code, text.c_str(), lookup, &message);
    if (message && ::strnlen(message, CV_UAC_LOOKUP_MESSAGE_SIZE) == CV_UAC_LOOKUP_MESSAGE_SIZE)
        __builtin_trap();
    char xml[CV_UAC_VALUE_TEXT_SIZE];
    (void)cv_uac_type_override_to_xml(code, text.c_str(), xml, sizeof xml, lookup);

    cv_uac_warning *warnings = nullptr;
    any_value parsed{};
    (void)cv_uac_type_parse_text(code, text.c_str(), lookup, &parsed, &warnings);
    write_and_free(code, &parsed, lookup);

    xmlNode *element = xmlNewNode(nullptr, reinterpret_cast<const xmlChar *>("CONF"));
    if (element) {
        xmlNodeAddContentLen(element, reinterpret_cast<const xmlChar *>(text.data()),
                             static_cast<int>(text.size()));
        any_value read{};
        (void)cv_uac_type_read(code, element, lookup, &read, &warnings, nullptr);
        write_and_free(code, &read, lookup);
        xmlFreeNode(element);
    }
    cv_uac_free_warnings(&warnings);
    return 0;
}
