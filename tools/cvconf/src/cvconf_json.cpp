// The JSON writer: strings escaped for any byte (see cvconf_json.h).
#include "cvconf_json.h"

#include <cstddef>
#include <cstdint>

std::size_t cvconf_utf8_length(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    std::uint32_t min = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, min = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, min = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, min = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return length;
}

namespace {

void append_escape(std::string &out, unsigned value) {
    constexpr char kHex[] = "0123456789abcdef";
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

}  // namespace

std::string cvconf_json_string(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7F) {
            append_escape(out, c);
        } else if (const std::size_t length = cvconf_utf8_length(text, i); length > 0) {
            out.append(text.substr(i, length));
            i += length;
            continue;
        } else {
            append_escape(out, 0xDC00 | c);
        }
        ++i;
    }
    out += '"';
    return out;
}

void cvconf_json::value_start() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (!first_.empty()) {
        if (!first_.back()) out_ += ',';
        first_.back() = false;
    }
}

cvconf_json &cvconf_json::begin_object() {
    value_start();
    out_ += '{';
    first_.push_back(true);
    return *this;
}

cvconf_json &cvconf_json::end_object() {
    out_ += '}';
    first_.pop_back();
    return *this;
}

cvconf_json &cvconf_json::begin_array() {
    value_start();
    out_ += '[';
    first_.push_back(true);
    return *this;
}

cvconf_json &cvconf_json::end_array() {
    out_ += ']';
    first_.pop_back();
    return *this;
}

cvconf_json &cvconf_json::key(std::string_view name) {
    value_start();
    out_ += cvconf_json_string(name);
    out_ += ':';
    after_key_ = true;
    return *this;
}

cvconf_json &cvconf_json::string(std::string_view text) {
    value_start();
    out_ += cvconf_json_string(text);
    return *this;
}

cvconf_json &cvconf_json::number(long value) {
    value_start();
    out_ += std::to_string(value);
    return *this;
}

cvconf_json &cvconf_json::boolean(bool value) {
    value_start();
    out_ += value ? "true" : "false";
    return *this;
}

cvconf_json &cvconf_json::null() {
    value_start();
    out_ += "null";
    return *this;
}
