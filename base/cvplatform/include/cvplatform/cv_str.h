// Bounded strings, formatted printing, environment access, wildcard matching,
// strict UTF-8/UTF-16 conversion, integer reading, the wide command line,
// network address literals and variable expansion.
//
// No unbounded string function is used anywhere in the system: every copy,
// append and formatted print goes through these primitives.  Every bounded
// operation takes the destination's total capacity in bytes (terminator
// included), reports truncation as CV_E_BUFFER_SPACE (28677) and never leaves
// a cut UTF-8 character behind: a truncated result is always terminated and
// ends on a whole character (unless the source itself was not UTF-8).  An
// optional position cursor (a caller-held offset into the destination) is
// advanced by what was written; a null cursor means position 0.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cvplatform/cv_status.h"

struct cv_btree;

/* Standard buffer sizes of the system. */
inline constexpr std::size_t CV_STR_PATH_SIZE = 8192; /* paths and values */
inline constexpr std::size_t CV_STR_LINE_SIZE = 4096; /* log lines */

/* The length of `text`, reading at most `max_len` bytes: `max_len` when no
 * terminator is found within them, 0 for a null text. */
std::size_t cv_str_length(const char *text, std::size_t max_len);

/* Copies at most `max_len` bytes of `src` to `dst` at the cursor and
 * terminates it; the cursor (when given) is advanced to the terminator.  The
 * source is never read beyond `max_len` bytes nor beyond what could fit, so
 * it need not be terminated within `max_len`.  Returns 0 when the whole
 * source fitted; 28677 when it was cut (to the room, then back to a whole
 * UTF-8 character); 22 for a null destination or source or a cursor not
 * below the capacity: the warning "Warning: cv_str_to failure, args ..." is
 * logged at level LOG and the destination is emptied when it has a byte to
 * write (the cursor is left as it was).  Source and destination may
 * overlap. */
cv_status cv_str_to(char *dst, const char *src, std::size_t max_len, std::size_t capacity,
                    std::size_t *cursor);

/* cv_str_to from position 0 with no length limit. */
cv_status cv_str_copy(char *dst, const char *src, std::size_t capacity);

/* cv_str_to at the cursor with no length limit. */
cv_status cv_str_append(char *dst, const char *src, std::size_t capacity, std::size_t *cursor);

/* Appends after the destination's current end.  0 (also for an empty
 * source); 22 for null arguments (nothing logged); 28677 when it does not fit
 * or when the destination holds no terminator within its capacity (then
 * nothing is written). */
cv_status cv_str_cat(char *dst, const char *src, std::size_t capacity);

/* Appends up to nine strings, ended by a null pointer, with one shared
 * cursor; stops at the first failure and returns it (0 when all fitted, and
 * for a null first string).  A null cursor appends after the destination's
 * current text, as cv_str_cat does (28677, nothing written, when the
 * destination holds no terminator within its capacity).  More than nine
 * strings are refused with 22 before anything is appended (the destination
 * is emptied). */
cv_status cv_str_append_many(char *dst, std::size_t capacity, std::size_t *cursor, ...);

/* As cv_str_to without a length limit, leaving out the source's leading and
 * trailing white space (blank, tab, line feed, vertical tab, form feed,
 * carriage return).  A trimmed source that does not fit is cut at the room,
 * then back to a whole UTF-8 character: 28677.  For a null argument or a
 * cursor not below the capacity it logs "cv_trimmed_str_to failure, args
 * ..." at level LOG, empties the destination and returns 22. */
cv_status cv_trimmed_str_to(char *dst, const char *src, std::size_t capacity, std::size_t *cursor);

/* Bounded formatted print.  Returns the characters written, or capacity - 1
 * when the text was cut (callers detect truncation by comparing with
 * capacity - 1); the cut text ends on a whole UTF-8 character, which may
 * leave it shorter than capacity - 1.  A truncation logs "Call to snprintf()
 * lead to a truncation" at level DBG when cv_log_verbosity is 2 or more.
 * With capacity 0 nothing is written and the length the text needs is
 * returned (a size query passes a null destination).  -1 for a null format,
 * a null destination with a non-zero capacity, or a failed print (the
 * destination is then emptied). */
int cv_snprintf(char *dst, std::size_t capacity, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));

/* As cv_snprintf with an argument list, but returns the capacity when the
 * text was cut, and never logs. */
int cv_vsnprintf(char *dst, std::size_t capacity, const char *fmt, va_list args)
    __attribute__((format(printf, 3, 0)));

/* Formatted append at the cursor.  0 when the text fitted (cursor advanced);
 * 28677 when it was cut back to a whole character (cursor advanced over what
 * was kept); 22 for a null destination, and for a null format or a cursor
 * not below the capacity (destination emptied); the print's errno when
 * printing fails (the text at the cursor is emptied). */
cv_status cv_str_append_printf(char *dst, std::size_t capacity, std::size_t *cursor,
                               const char *fmt, ...) __attribute__((format(printf, 4, 5)));

/* Reads environment variable `name` into `dst` (capacity bytes).  Gives the
 * statuses a read through the UTF-16 environment gives:
 *   0   the value and its terminator were copied;
 *   22  null arguments, a name that is not strict UTF-8 or holds "=", an
 *       absent or empty variable, or a value that is not strict UTF-8 (POSIX
 *       values are bytes; such a value has no UTF-16 form and is refused);
 *   122 a name whose UTF-16 form exceeds 8192 bytes, or a value whose UTF-8
 *       form (terminator included) does not fit `capacity`;
 *   28677 a value of `capacity` or more UTF-16 units;
 *   8   a capacity so large that the wide buffer's size overflows.
 * On every failure the destination is left unchanged.  No heap is used. */
cv_status cv_getenv(const char *name, char *dst, std::size_t capacity);

/* Sets environment variable `name` to `value`, replacing an old value.  0;
 * 22 for null arguments, an empty name, a name holding "=", or a name or
 * value that is not strict UTF-8; 8 out of memory; otherwise the system
 * error. */
cv_status cv_setenv(const char *name, const char *value);

/* Removes environment variable `name`.  0 (also when it was not set); 22 for
 * a null or empty name or one containing "=". */
cv_status cv_unsetenv(const char *name);

/* The names of every variable of the process environment, in the
 * environment's order, as raw bytes (an entry without "=" is named whole). */
std::vector<std::string> cv_environment_names();

/* Matches `text` against `pattern`: "*" any run of characters, "?" any one
 * character, "\" makes the next pattern character literal, anything else
 * itself (byte-wise, case-sensitive).  A "*" that does not end the pattern
 * must leave at least one character of the text for the rest of the
 * pattern; when the text is used up the pattern's rest must be empty or
 * exactly "*".  0 for a match, 1 otherwise (also for a null argument).
 * Takes time proportional to the product of the two lengths. */
int cv_wildcard_match(const char *pattern, const char *text);

/* Strict conversion between UTF-8 and UTF-16 (NUL-terminated).  `*capacity`
 * is the destination's size in bytes on entry.  Illegal: five- and six-byte
 * forms, overlong forms, bytes that cannot start or continue a sequence,
 * surrogates encoded in UTF-8, values above U+10FFFF, unpaired UTF-16
 * surrogates, and a last sequence cut off by the terminator.
 * Returns 0 on success (cv_utf8_to_utf16 stores the written size in bytes
 * without the terminator; cv_utf16_to_utf8 leaves *capacity unchanged); 22
 * for illegal input, a null source or capacity pointer, or a null
 * destination with a non-zero capacity; 122 when the destination is too
 * small, with the needed size in bytes (terminator included) stored and the
 * destination untouched.  A size query passes a null destination and 0. */
cv_status cv_utf8_to_utf16(const char *src, char16_t *dst, std::size_t *capacity);
cv_status cv_utf16_to_utf8(const char16_t *src, char *dst, std::size_t *capacity);

/* Cuts a trailing incomplete UTF-8 character from `str` (length in/out; when
 * null the string's own length is used) and terminates it there.  0 (also
 * when nothing needed cutting); 22 for a null string or a tail of
 * continuation bytes that follows an ASCII byte or starts the string. */
cv_status cv_utf8_trim_partial(char *str, std::size_t *length);

/* Reads an integer: leading white space, optional "-", base prefix "0x" or
 * "0X" (16), "0" before a decimal digit (8), "%" (2), else 10; digits are
 * 0-9 and letters of either case (10-35), reading stops at the first one not
 * below the base.  0; 22 for a null argument or when no digit follows the
 * prefix; 122 when the value does not fit (the whole run of digits is still
 * consumed).  `end` (may be null) gets the first unread character, also on
 * failure.  The value is stored only on success. */
cv_status cv_str_to_i64(const char *text, std::int64_t *value, const char **end);
/* As cv_str_to_i64; 122 also when the value does not fit the type. */
cv_status cv_str_to_i32(const char *text, std::int32_t *value, const char **end);
cv_status cv_str_to_u32(const char *text, std::uint32_t *value, const char **end);

/* The value, or 0 when it cannot be read (or, for cv_atoi, does not fit a
 * signed 32-bit integer). */
std::int32_t cv_atoi(const char *text);
std::int64_t cv_atoll(const char *text);

/* Builds the UTF-16 command line of a child process: `program` (or the whole
 * command line when argc is 0) followed by the arguments, each separated by
 * one blank; the program is taken as it is, and an argument that is empty or
 * holds a blank or a double quote is enclosed in double quotes with its
 * inner quotes removed.  Writes into `buffer` (`buffer_bytes` bytes; may be
 * null with 0) and moves to a heap buffer, returned in `*heap`, when it does
 * not fit.  The caller uses *heap when it is not null, else `buffer`, and
 * releases *heap with cv_cmdline_free.  0; 22 for a null `heap`, program,
 * argument vector (with argc > 0) or argument, or text that is not strict
 * UTF-8; 8 out of memory.  On failure *heap is null. */
cv_status cv_cmdline_build(const char *program, const char *const *argv, std::size_t argc,
                           char16_t *buffer, std::size_t buffer_bytes, char16_t **heap);

/* Releases a heap result of cv_cmdline_build and nulls the variable.  0
 * (also for null). */
cv_status cv_cmdline_free(char16_t **heap);

/* Address families of cv_net_address. */
enum : int { CV_NET_FAMILY_IPV4 = 2, CV_NET_FAMILY_IPV6 = 23 };

struct cv_net_address {
    int family;            /* CV_NET_FAMILY_IPV4 or CV_NET_FAMILY_IPV6 */
    std::uint8_t ipv4[4];  /* network order */
    std::uint8_t ipv6[16]; /* network order */
};

/* Starts the socket library where the platform needs it; nothing on POSIX. */
void cv_net_startup();

/* Parses an IPv4 literal, else an IPv6 literal (an IPv6 zone suffix "%..."
 * is cut first).  The record is zeroed, then filled.  0 (`*is_ipv6`, when
 * given, gets 1 for IPv6 and 0 for IPv4); 22 for null arguments or text that
 * is neither. */
cv_status cv_net_parse_address(const char *text, cv_net_address *address, int *is_ipv6);

/* Expands $(name) references in `src` from `vars` (may be null); "|" takes
 * the next character literally (a final "|" is itself literal), also inside
 * a name.  A name the table lacks that reads HOME in any letter case is the
 * profile directory of the table's "user" entry, or of the current user
 * when there is none.  The output of a pass that substituted something is
 * expanded again (consuming one more level of escapes); five passes may
 * substitute, a substitution in the sixth fails.  `dst` (capacity bytes; may be null when only the length is
 * wanted, and may be `src` itself) is written only on success, and `length`
 * (may be null) then gets the result's length plus one.  0; 2 unresolved
 * name (or the table's look-up status); 8 out of memory; 22 null source,
 * unterminated reference or runaway recursion; 122 when the result does not
 * fit `capacity`.  Failures are logged as the messages of the module say. */
cv_status cv_parse_variables_into_string(const char *src, char *dst, std::size_t capacity,
                                         cv_btree *vars, std::size_t *length);
