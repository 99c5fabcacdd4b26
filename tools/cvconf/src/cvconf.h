// cvconf, the administrator's view of the configuration: the pieces the
// commands share.
//
// Every answer comes from the framework (resolution, option model, type
// writers, validation, the conf.d writer) and, for `test`, from the shell's
// own decision library; this program only loads the configuration the way
// the shell does, asks, and prints.  Results go to standard output, errors
// to standard error as one line each.
#pragma once

#include <libxml/tree.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "uac/cv_uac.h"
#include "uac/cv_uac_config.h"

/* Exit statuses. */
inline constexpr int CVCONF_EXIT_OK = 0;    /* done; accepted; nothing to report */
inline constexpr int CVCONF_EXIT_FOUND = 1; /* findings; a refusal; a value or write refused */
inline constexpr int CVCONF_EXIT_ERROR = 2; /* wrong arguments; configuration unreadable */

/* The command line, options separated from the words of the command. */
struct cvconf_args {
    std::string conf; /* --conf FILE; empty: found from the program's own location */
    bool origin = false;
    bool json = false;
    bool restricted = false;
    bool forced = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> words; /* the command and its operands */
};

/* Reads `argv` into `*args`.  Options may stand before or after the command;
 * "--" ends them.  For `test`, every word after the user name belongs to the
 * command line, options included.  0, or CVCONF_EXIT_ERROR with the reason
 * in `*error`. */
int cvconf_parse_args(int argc, char **argv, cvconf_args *args, std::string *error);

/* The usage text of --help. */
const char *cvconf_usage();

/* The configuration as the shell loads it: the framework started with the
 * group providers, the set loaded from the main file and its conf.d, the
 * master group set selected.  Released with the object. */
class cvconf_config {
public:
    cvconf_config() = default;
    ~cvconf_config();
    cvconf_config(const cvconf_config &) = delete;
    cvconf_config &operator=(const cvconf_config &) = delete;

    /* Loads from `path` (empty: found beside the running program).  0, or
     * CVCONF_EXIT_ERROR with a one-line reason naming the file. */
    int load(const std::string &path, std::string *error);

    cv_uac_conf_set *set = nullptr;
    std::string path; /* the main file */

private:
    bool started_ = false;
};

/* Where a value was read: the file, the line of its element and the entry
 * around it ("user CORP\alice", "group staff", "default", "server",
 * "trunk 7", "logging cv*").  An empty file means a built-in default. */
struct cvconf_origin {
    std::string file;
    long line = 0;
    std::string entry;
};

/* The origin of `element` in `set`; a null element gives the built-in
 * default's. */
cvconf_origin cvconf_origin_of(const cv_uac_conf_set *set, const xmlNode *element);

/* The origin as a prefix of a `show --origin` line: "FILE:LINE: ENTRY", or
 * "(default)". */
std::string cvconf_origin_text(const cvconf_origin &origin);

/* The trimmed text of `element`'s first `name` child, or "". */
std::string cvconf_entry_name(const xmlNode *element);

/* `text` made safe for a terminal: control characters and bytes that are
 * not UTF-8 become "\xNN"; everything else, backslashes included, is kept. */
std::string cvconf_display(std::string_view text);

/* One option of an object as `show` prints it. */
struct cvconf_option {
    std::string key;
    bool is_list = false;
    std::string value;              /* the type writer's text (not for lists) */
    std::vector<std::string> items; /* a list's items; none for an empty list */
    bool null_list = false;         /* a list without a value at all */
    cvconf_origin origin;
};

/* The options of `object` in catalogue order, each written by its type.
 * 0; else the failing writer's status. */
cv_status cvconf_options_of(cv_uac_config_object *object, const cv_uac_conf_set *set,
                            std::vector<cvconf_option> *options);

/* Writes `option` as `show` does: "KEY = VALUE", a list's items below it
 * one a line, indented; with `origin`, the origin first. */
void cvconf_print_option(std::FILE *out, const cvconf_option &option, bool origin);

/* The commands.  Each returns the exit status. */
int cvconf_show(const cvconf_args &args);
int cvconf_check(const cvconf_args &args);
int cvconf_test(const cvconf_args &args);
int cvconf_set(const cvconf_args &args, bool unset);

/* Prints "cvconf: MESSAGE" on standard error and returns `status`. */
int cvconf_fail(int status, const std::string &message);
