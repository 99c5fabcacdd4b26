// Bounded strings, formatted printing, environment access, wildcard matching,
// strict UTF-8/UTF-16 conversion, integer reading, the wide command line,
// network address literals and variable expansion.
//
// No unbounded string function is used anywhere in the system: every copy,
// append and formatted print goes through these primitives.  Every bounded
// operation takes the destination's total capacity in bytes (terminator
// included), reports truncation as CV_E_BUFFER_SPACE (28677) and never leaves
// a cut UTF-8 character behind.  An optional position cursor (a caller-held
// offset into the destination) is advanced by what was written; a null cursor
// means position 0.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

struct cv_btree;

/* Standard buffer sizes of the system. */
inline constexpr std::size_t CV_STR_PATH_SIZE = 8192;  /* paths and values */
inline constexpr std::size_t CV_STR_LINE_SIZE = 4096;  /* log lines */

/* Copies at most `max_len` bytes of `src` to `dst` at the cursor.  0 when the
 * whole source fitted; 28677 when it was cut (back to a whole UTF-8
 * character); 22 (destination emptied, warning logged) for a null argument or
 * a cursor not below the capacity. */
cv_status cv_str_to(char *dst, const char *src, std::size_t max_len, std::size_t capacity,
                    std::size_t *cursor);

/* cv_str_to from position 0 with no length limit. */
cv_status cv_str_copy(char *dst, const char *src, std::size_t capacity);

/* cv_str_to at the cursor with no length limit. */
cv_status cv_str_append(char *dst, const char *src, std::size_t capacity, std::size_t *cursor);

/* Appends after the destination's current end.  0 (also for an empty
 * source); 22 for null arguments; 28677 when it does not fit. */
cv_status cv_str_cat(char *dst, const char *src, std::size_t capacity);

/* Appends up to nine strings, ended by a null pointer, with one shared
 * cursor; stops at the first failure and returns it.  A tenth string is
 * refused with 22; a null first string gives 0. */
cv_status cv_str_append_many(char *dst, std::size_t capacity, std::size_t *cursor, ...);

/* As cv_str_to without a length limit, leaving out the source's leading and
 * trailing white space. */
cv_status cv_trimmed_str_to(char *dst, const char *src, std::size_t capacity,
                            std::size_t *cursor);

/* Bounded formatted print.  Returns the characters written, capacity - 1 when
 * truncated; with a null destination and capacity 0, the length needed. */
int cv_snprintf(char *dst, std::size_t capacity, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

/* As cv_snprintf with an argument list; returns the capacity when truncated. */
int cv_vsnprintf(char *dst, std::size_t capacity, const char *fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

/* Formatted append at the cursor.  0; 28677 when cut; 22 for null arguments
 * or a full destination; a system error when printing fails. */
cv_status cv_str_append_printf(char *dst, std::size_t capacity, std::size_t *cursor,
                               const char *fmt, ...) __attribute__((format(printf, 4, 5)));

/* Reads environment variable `name` into `dst`.  0; 22 when absent or empty
 * (the destination is left unchanged) or not valid UTF-8; 28677 when it does
 * not fit; 122 when the converted form does not fit. */
cv_status cv_getenv(const char *name, char *dst, std::size_t capacity);

/* Sets environment variable `name` to `value`.  0; 8 out of memory; 22 for
 * invalid names or values; otherwise the system error. */
cv_status cv_setenv(const char *name, const char *value);

/* Matches `text` against `pattern` ("*" any run, "?" any one character, "\\"
 * makes the next pattern character literal).  0 for a match, 1 otherwise. */
int cv_wildcard_match(const char *pattern, const char *text);

/* Strict conversion between UTF-8 and UTF-16.  `*capacity` is the
 * destination's size in bytes on entry.  0 on success (cv_utf8_to_utf16
 * stores the written size in bytes without the terminator; cv_utf16_to_utf8
 * leaves it unchanged); 22 for illegal input or bad arguments; 122 when too
 * small, with the needed size in bytes (terminator included) stored. */
cv_status cv_utf8_to_utf16(const char *src, char16_t *dst, std::size_t *capacity);
cv_status cv_utf16_to_utf8(const char16_t *src, char *dst, std::size_t *capacity);

/* Cuts a trailing incomplete UTF-8 character from `str` (length in/out; when
 * null the string's own length is used).  0; 22 for a malformed tail. */
cv_status cv_utf8_trim_partial(char *str, std::size_t *length);

/* Reads an integer: leading white space, optional "-", base prefix "0x"
 * (16), "0" before a digit (8), "%" (2), else 10.  0; 22 when no digit is
 * read; 122 on overflow.  `end` (may be null) gets the first unread
 * character, also on failure. */
cv_status cv_str_to_i64(const char *text, std::int64_t *value, const char **end);
cv_status cv_str_to_i32(const char *text, std::int32_t *value, const char **end);
cv_status cv_str_to_u32(const char *text, std::uint32_t *value, const char **end);

/* The value, or 0 when it cannot be read (or, for cv_atoi, does not fit a
 * signed 32-bit integer). */
std::int32_t cv_atoi(const char *text);
std::int64_t cv_atoll(const char *text);

/* Builds the UTF-16 command line of a child process: `program` (or the whole
 * command line when argc is 0) followed by the arguments, each separated by
 * one blank; an argument that is empty or holds a blank or a double quote is
 * enclosed in double quotes with its inner quotes removed.  Writes into
 * `buffer` (`buffer_bytes` bytes) and moves to a heap buffer, returned in
 * `*heap`, when it does not fit.  The caller uses *heap when it is not null,
 * else `buffer`, and releases *heap with cv_cmdline_free.  0; 22; 8. */
cv_status cv_cmdline_build(const char *program, const char *const *argv, std::size_t argc,
                           char16_t *buffer, std::size_t buffer_bytes, char16_t **heap);

/* Releases a heap result of cv_cmdline_build and nulls the variable.  0. */
cv_status cv_cmdline_free(char16_t **heap);

/* Address families of cv_net_address. */
enum : int { CV_NET_FAMILY_IPV4 = 2, CV_NET_FAMILY_IPV6 = 23 };

struct cv_net_address {
    int family;                /* CV_NET_FAMILY_IPV4 or CV_NET_FAMILY_IPV6 */
    std::uint8_t ipv4[4];      /* network order */
    std::uint8_t ipv6[16];     /* network order */
};

/* Starts the socket library where the platform needs it; nothing on POSIX. */
void cv_net_startup();

/* Parses an IPv4 or IPv6 literal (an IPv6 zone suffix "%..." is cut first).
 * 0 (`*is_ipv6`, when given, tells which); 22 when it is neither. */
cv_status cv_net_parse_address(const char *text, cv_net_address *address, int *is_ipv6);

/* Expands $(name) references in `src` from `vars` (may be null); "|" escapes
 * the next character; HOME resolves to a profile directory.  Values are
 * expanded again, at most five substituting passes.  `dst` may be null when
 * only the length (terminator included) is wanted.  0; 2 unresolved name;
 * 8 out of memory; 22 unterminated reference or runaway recursion; 122 when
 * the result does not fit `capacity`. */
cv_status cv_parse_variables_into_string(const char *src, char *dst, std::size_t capacity,
                                         cv_btree *vars, std::size_t *length);
