// The built-in rule functions of fitness formulas.
//
// `cookie` (also registered as `stgl_provider`) and `classes` match the
// supplied value against a list of wildcard patterns, `peer_domain` against
// one pattern; `peer_ip` compares a peer address with a configured address
// or subnet, each side optionally with a port ("*" for any port; IPv6 in
// brackets when it carries one).  Every text is worked on in fixed buffers
// or as views of the caller's text; nothing is allocated except the copy of
// a `classes` list.
#include <algorithm>
#include <cstring>
#include <limits>
#include <string_view>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_fitness.h"
#include "uac/cv_uac_memory_heap.h"

namespace {

/* Nothing to compare with is normal where a caller supplies no variables
 * (the shell supplies none), so it is logged only for debugging. */
cv_status missing(char *error_text, const char *text) {
    (void)cv_str_copy(error_text, text, CV_UAC_FITNESS_ERROR_SIZE);
    if (cv_log_verbosity >= 1) cv_log_debug("UAC failed to apply fitness rule: %s", text);
    return CV_E_FILE_NOT_FOUND;
}

/* A rule that cannot be applied is a configuration error. */
cv_status report(char *error_text, cv_status status, const char *text) {
    (void)cv_str_copy(error_text, text, CV_UAC_FITNESS_ERROR_SIZE);
    cv_log_error("UAC failed to apply fitness rule: %s", text);
    return status;
}

/* 1 when `value` matches one of the `separator`-separated patterns of the
 * writable `list`, else 0.  The list is cut apart in place. */
std::int32_t matches_any(char *list, char separator, const char *value) {
    for (char *piece = list;;) {
        char *end = std::strchr(piece, separator);
        if (end) *end = '\0';
        if (cv_wildcard_match(piece, value) == 0) return 1;
        if (!end) return 0;
        piece = end + 1;
    }
}

int clamp_int(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

/* A port of an address: absent, any ("*"), or a number. */
struct port_spec {
    enum { absent, any, number } kind = absent;
    std::int64_t value = 0;
};

bool ports_agree(const port_spec &a, const port_spec &b) {
    if (a.kind == port_spec::any || b.kind == port_spec::any) return true;
    if (a.kind != b.kind) return false;
    return a.kind == port_spec::absent || a.value == b.value;
}

/* Reads a whole decimal number; `*value` gets its leading digits, saturated,
 * even when more follows.  False for an empty text, a sign alone or
 * anything after the digits. */
bool read_decimal(const char *text, std::int64_t *value) {
    const char *p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    std::int64_t magnitude = 0;
    const char *digits = p;
    for (; *p >= '0' && *p <= '9'; ++p)
        magnitude = magnitude > 100000000000LL ? magnitude : magnitude * 10 + (*p - '0');
    *value = negative ? -magnitude : magnitude;
    return p != digits && *p == '\0';
}

/* Splits the port off `text` (writable, terminated): cut in place, so that
 * `text` keeps the address alone. */
cv_status split_port(char *text, port_spec *port, char *error_text) {
    *port = port_spec{};
    char *port_text = nullptr;
    if (text[0] == '[') {
        char *close = std::strchr(text, ']');
        if (!close) return report(error_text, CV_E_INVALID, "Badly formatted IPV6 address");
        if (close[1] == ':') port_text = close + 2;
        *close = '\0';
        std::memmove(text, text + 1, std::strlen(text + 1) + 1);
    } else {
        char *colon = std::strchr(text, ':');
        if (colon && !std::strchr(colon + 1, ':')) {
            *colon = '\0';
            port_text = colon + 1;
        }
    }
    if (!port_text) return CV_OK;
    if (std::strcmp(port_text, "*") == 0) {
        port->kind = port_spec::any;
        return CV_OK;
    }
    std::int64_t number = 0;
    const bool whole = read_decimal(port_text, &number);
    if (!whole || number < 0 || number > 65535) {
        char message[CV_UAC_FITNESS_ERROR_SIZE];
        (void)cv_snprintf(message, sizeof message, "Invalid port: %d", clamp_int(number));
        return report(error_text, CV_E_INVALID, message);
    }
    port->kind = port_spec::number;
    port->value = number;
    return CV_OK;
}

/* True when the first `bits` bits of `a` and `b` agree. */
bool prefix_agrees(const std::uint8_t *a, const std::uint8_t *b, std::int64_t bits) {
    const auto whole = static_cast<std::size_t>(bits / 8);
    if (std::memcmp(a, b, whole) != 0) return false;
    const auto rest = static_cast<unsigned>(bits % 8);
    if (rest == 0) return true;
    const auto mask = static_cast<std::uint8_t>(0xFF << (8 - rest));
    return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

cv_status cv_uac_rule_cookie(const char *argument, const char *value, std::int32_t *result,
                             char *error_text) {
    if (!value) return missing(error_text, "No cookie supplied to compare to");
    char patterns[CV_UAC_COOKIE_ARGUMENT_MAX + 1];
    if (cv_str_length(argument, sizeof patterns) >= sizeof patterns)
        return report(error_text, CV_E_BUFFER_TOO_SMALL, "Cookie rule longer than 511 characters");
    (void)cv_str_copy(patterns, argument, sizeof patterns);
    *result = matches_any(patterns, '|', value);
    return CV_OK;
}

cv_status cv_uac_rule_peer_domain(const char *argument, const char *value, std::int32_t *result,
                                  char *error_text) {
    if (!value) return missing(error_text, "No domain supplied to compare to");
    *result = cv_wildcard_match(argument, value) == 0 ? 1 : 0;
    return CV_OK;
}

cv_status cv_uac_rule_classes(const char *argument, const char *value, std::int32_t *result,
                              char *error_text) {
    if (!value) {
        *result = 0;
        return CV_OK;
    }
    const std::size_t bytes = std::strlen(argument) + 1;
    auto *list = static_cast<char *>(CV_UAC_MALLOC(bytes, "Fitness classes list"));
    if (!list) {
        cv_log_error("Error duplicating fitness string (%zu bytes)", bytes);
        (void)cv_str_copy(error_text, "Error duplicating fitness string",
                          CV_UAC_FITNESS_ERROR_SIZE);
        return CV_E_NO_MEMORY;
    }
    std::memcpy(list, argument, bytes);
    *result = matches_any(list, ';', value);
    cv_uac_free(list);
    return CV_OK;
}

cv_status cv_uac_rule_peer_ip(const char *argument, const char *value, std::int32_t *result,
                              char *error_text) {
    if (!value) return missing(error_text, "No IP address supplied to compare to");
    if (!argument || argument[0] == '\0')
        return report(error_text, CV_E_FILE_NOT_FOUND,
                      "No IP address present in xml to compare to");
    char configured[CV_UAC_PEER_IP_SIZE];
    char peer[CV_UAC_PEER_IP_SIZE];
    if (cv_str_length(argument, sizeof configured) >= sizeof configured ||
        cv_str_length(value, sizeof peer) >= sizeof peer)
        return report(error_text, CV_E_BUFFER_TOO_SMALL, "IP address longer than 127 characters");
    (void)cv_str_copy(configured, argument, sizeof configured);
    (void)cv_str_copy(peer, value, sizeof peer);

    port_spec peer_port;
    port_spec configured_port;
    if (cv_status status = split_port(peer, &peer_port, error_text); status != CV_OK) return status;
    if (cv_status status = split_port(configured, &configured_port, error_text); status != CV_OK)
        return status;
    *result = 0;
    if (!ports_agree(configured_port, peer_port)) return CV_OK;

    bool has_prefix = false;
    bool prefix_whole = true;
    std::int64_t prefix = 0;
    if (char *slash = std::strchr(configured, '/')) {
        *slash = '\0';
        has_prefix = true;
        // A prefix that is not a whole number is refused below, quoting the
        // number of its leading digits.
        prefix_whole = read_decimal(slash + 1, &prefix);
    }
    char message[CV_UAC_FITNESS_ERROR_SIZE];
    cv_net_address configured_address{};
    cv_net_address peer_address{};
    if (cv_net_parse_address(configured, &configured_address, nullptr) != CV_OK) {
        (void)cv_snprintf(message, sizeof message, "Invalid ip address in conf file: %s", argument);
        return report(error_text, CV_E_INVALID, message);
    }
    if (cv_net_parse_address(peer, &peer_address, nullptr) != CV_OK) {
        (void)cv_snprintf(message, sizeof message, "Invalid ip address passed: %s", value);
        return report(error_text, CV_E_INVALID, message);
    }
    const bool configured_v4 = configured_address.family == CV_NET_FAMILY_IPV4;
    if (configured_address.family != peer_address.family) {
        if (cv_log_verbosity >= 2)
            cv_log_debug(configured_v4 ? "Conf file IP address is ipv4, passed ip address is "
                                         "ipv6.  Trivial reject."
                                       : "Conf file IP address is ipv6, passed ip address is "
                                         "ipv4.  Trivial reject.");
        return CV_OK;
    }
    if (configured_v4) {
        if (!has_prefix) {
            *result = std::memcmp(configured_address.ipv4, peer_address.ipv4, 4) == 0;
            return CV_OK;
        }
        if (!prefix_whole || prefix < 1 || prefix > 32) {
            (void)cv_snprintf(message, sizeof message, "Invalid ipv4 subnet mask size: %d",
                              clamp_int(prefix));
            return report(error_text, CV_E_INVALID, message);
        }
        *result = prefix_agrees(configured_address.ipv4, peer_address.ipv4, prefix);
        return CV_OK;
    }
    if (!has_prefix) prefix = 128;
    if (!prefix_whole || prefix < 1 || prefix > 128) {
        (void)cv_snprintf(message, sizeof message, "Invalid ipv6 subnet mask size: %d",
                          clamp_int(prefix));
        return report(error_text, CV_E_INVALID, message);
    }
    *result = prefix_agrees(configured_address.ipv6, peer_address.ipv6, prefix);
    return CV_OK;
}
