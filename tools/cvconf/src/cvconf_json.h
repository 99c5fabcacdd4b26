// A small JSON writer for cvconf's --json output.
//
// Configuration values are bytes, and JSON strings are Unicode, so a value
// that is not UTF-8 has no JSON form of its own.  Rather than refuse it or
// replace its bytes (which would print a value that is not the one the
// configuration holds), every byte that is not part of a well-formed UTF-8
// character is written as the lone surrogate "\uDCNN" (NN the byte): the
// convention Python calls "surrogateescape", which a reader can undo to get
// the exact bytes back.  Quotes, backslashes and control characters are
// escaped as JSON requires; well-formed UTF-8 passes as it is, so any text
// that is valid UTF-8 reads back identical.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/* Bytes of the well-formed UTF-8 character at `text[at]` (strict: no
 * overlong forms, no surrogates, nothing above U+10FFFF), or 0 when the
 * byte there starts none. */
std::size_t cvconf_utf8_length(std::string_view text, std::size_t at);

/* `text` as a quoted JSON string. */
std::string cvconf_json_string(std::string_view text);

/* Builds one JSON document in memory; commas and nesting are its job. */
class cvconf_json {
public:
    cvconf_json &begin_object();
    cvconf_json &end_object();
    cvconf_json &begin_array();
    cvconf_json &end_array();
    /* The name of the next member of the current object. */
    cvconf_json &key(std::string_view name);
    cvconf_json &string(std::string_view text);
    cvconf_json &number(long value);
    cvconf_json &boolean(bool value);
    cvconf_json &null();

    /* The document, with a line feed at the end. */
    std::string text() const { return out_ + "\n"; }

private:
    void value_start();

    std::string out_;
    std::vector<bool> first_; /* per open container: no member written yet */
    bool after_key_ = false;
};
