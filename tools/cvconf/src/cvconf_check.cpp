// `check`: is the whole configuration sound?
//
// Every file of the set is walked along the layout the framework reads
// (realms with their users and groups, defaults, server elements, trunks,
// logging settings).  Each entry is read as an object of its class on its
// own and validated through the class's `check` slot; every element that no
// option of the class reads, and every element out of place in the layout,
// is reported as unknown with the known tag name nearest to it (optimal
// string alignment distance: a swap of two neighbours counts one, as in
// "enabeld").  A conf.d file that is in the folder but not in the set could
// not be read.
#include <algorithm>
#include <cstring>

#include "cvconf.h"
#include "cvconf_json.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_path.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_memory_heap.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_unread.h"
#include "uac/cv_uac_user.h"
#include "uac/parse_xml.h"

namespace {

enum class finding_kind { warning, unknown, left_out, unreadable };

const char *kind_name(finding_kind kind) {
    switch (kind) {
    case finding_kind::warning: return "warning";
    case finding_kind::unknown: return "unknown";
    case finding_kind::left_out: return "left_out";
    case finding_kind::unreadable: return "unreadable";
    }
    return "";
}

struct finding {
    finding_kind kind;
    cvconf_origin where;
    std::string text;
    std::string element;    /* an unknown element's name */
    std::string suggestion; /* the nearest known name, or "" */
};

/* Optimal string alignment distance between `a` and `b`. */
std::size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

/* The tag name nearest to `name`, when it is near enough to be a likely
 * misspelling (at most a third of the name's length, and at least one
 * edit); "" otherwise.  The first of equally near names wins. */
std::string nearest_tag(std::string_view name) {
    const std::size_t limit = std::max<std::size_t>(1, name.size() / 3);
    std::string best;
    std::size_t best_distance = limit + 1;
    for (std::int32_t tag = 1; tag < PARSE_XML_TAG_COUNT; ++tag) {
        const char *candidate = parse_xml_tag_name(tag);
        if (!candidate || name == candidate) continue;
        const std::size_t distance = edit_distance(name, candidate);
        if (distance < best_distance) {
            best_distance = distance;
            best = candidate;
        }
    }
    return best;
}

std::int32_t tag_of(const xmlNode *node) {
    return parse_xml_tag_index(reinterpret_cast<const char *>(node->name));
}

class checker {
public:
    explicit checker(const cv_uac_conf_set *set) : set_(set) {}

    void run() {
        for (std::int32_t i = 0; i < set_->count; ++i) walk_root(set_->roots[i]);
        check_server();
        check_conf_d_files();
    }

    const std::vector<finding> &findings() const { return findings_; }

private:
    template <typename F>
    void each_element(const xmlNode *parent, F visit) {
        for (xmlNode *child = parent->children; child; child = child->next)
            if (child->type == XML_ELEMENT_NODE) visit(child);
    }

    void unknown(const xmlNode *element, long line, const char *name, const xmlNode *context) {
        finding found{finding_kind::unknown, cvconf_origin_of(set_, context), "", name,
                      nearest_tag(name)};
        found.where.line = line;
        found.text = "unknown element <" + std::string(name) + ">";
        if (!found.suggestion.empty()) found.text += ": did you mean <" + found.suggestion + ">?";
        (void)element;
        findings_.push_back(std::move(found));
    }
    void out_of_place(const xmlNode *element) {
        unknown(element, xmlGetLineNo(element), reinterpret_cast<const char *>(element->name),
                element);
    }

    /* The layout the framework reads from the root. */
    void walk_root(const xmlNode *root) {
        if (!root) return;
        each_element(root, [&](xmlNode *child) {
            switch (tag_of(child)) {
            case PARSE_XML_TAG_aaa: walk_aaa(child); break;
            case PARSE_XML_TAG_default: user_entry(child); break;
            case PARSE_XML_TAG_server: unread(&cv_uac_server_class, child); break;
            case PARSE_XML_TAG_trunks:
                entries(child, PARSE_XML_TAG_trunk, &cv_uac_trunk_class);
                break;
            case PARSE_XML_TAG_logging:
                entries(child, PARSE_XML_TAG_log_setting, &cv_uac_logging_class);
                break;
            default: out_of_place(child);
            }
        });
    }
    void walk_aaa(const xmlNode *aaa) {
        each_element(aaa, [&](xmlNode *realms) {
            if (tag_of(realms) != PARSE_XML_TAG_realms) return out_of_place(realms);
            each_element(realms, [&](xmlNode *realm) {
                if (tag_of(realm) != PARSE_XML_TAG_realm) return out_of_place(realm);
                each_element(realm, [&](xmlNode *part) {
                    switch (tag_of(part)) {
                    case PARSE_XML_TAG_name: break;
                    case PARSE_XML_TAG_users: user_entries(part, PARSE_XML_TAG_user); break;
                    case PARSE_XML_TAG_groups: user_entries(part, PARSE_XML_TAG_group); break;
                    default: out_of_place(part);
                    }
                });
            });
        });
    }
    void user_entries(const xmlNode *list, std::int32_t tag) {
        each_element(list, [&](xmlNode *entry) {
            if (tag_of(entry) != tag) return out_of_place(entry);
            user_entry(entry);
        });
    }
    void entries(const xmlNode *list, std::int32_t tag, cv_uac_class *cls) {
        each_element(list, [&](xmlNode *entry) {
            if (tag_of(entry) != tag) return out_of_place(entry);
            unread(cls, entry);
            cv_uac_config_object *object = nullptr;
            xmlNode *start[] = {entry, nullptr};
            const cv_uac_load_request request{set_, start, nullptr, nullptr, 0};
            if (cv_uac_config_load(cls, &request, &object) == CV_OK) validate(object, entry);
            cv_uac_config_release(object);
        });
    }

    /* A user, group or default entry: read as a user object on its own. */
    void user_entry(xmlNode *entry) {
        unread_user_entry(entry);
        xmlNode *start[] = {entry, nullptr};
        cv_uac_user *user = nullptr;
        if (cv_uac_load_user(set_, start, nullptr, nullptr, 0, &user) == CV_OK)
            validate(&user->object, entry);
        if (user) cv_uac_config_release(&user->object);
    }

    /* The object's findings: what reading it found, then what its class's
     * check finds. */
    void validate(cv_uac_config_object *object, const xmlNode *entry) {
        cv_uac_warning *found = nullptr;
        (void)object->header.descriptor->check(object, &found);
        add_warnings(object->warnings, entry);
        add_warnings(found, entry);
        cv_uac_free_warnings(&found);
    }
    void add_warnings(const cv_uac_warning *warnings, const xmlNode *entry) {
        std::vector<const cv_uac_warning *> newest_first;
        for (const cv_uac_warning *w = warnings; w; w = w->next) newest_first.push_back(w);
        for (auto w = newest_first.rbegin(); w != newest_first.rend(); ++w)
            findings_.push_back(
                {finding_kind::warning, cvconf_origin_of(set_, entry), (*w)->text, "", ""});
    }

    /* The elements below `entry` that no option of `cls` reads. */
    static std::vector<cv_uac_unread_element> unread_by(const cv_uac_class *cls,
                                                        const xmlNode *entry) {
        cv_uac_unread_element *elements = nullptr;
        std::size_t count = 0;
        std::vector<cv_uac_unread_element> list;
        if (cv_uac_list_unread_elements(cls, entry, &elements, &count) == CV_OK)
            list.assign(elements, elements + count);
        cv_uac_free(elements);
        return list;
    }

    static bool below(const xmlNode *node, const xmlNode *ancestor) {
        for (const xmlNode *up = node->parent; up; up = up->parent)
            if (up == ancestor) return true;
        return false;
    }

    /* Reports `list` (in document order), each element once: below an
     * element already reported everything is unread too, and the outermost
     * one says it all. */
    void report_unread(const std::vector<cv_uac_unread_element> &list, const xmlNode *entry) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            bool inside = false;
            for (std::size_t j = 0; j < list.size() && !inside; ++j)
                inside = j != i && below(list[i].element, list[j].element);
            if (!inside) unknown(list[i].element, list[i].line, list[i].name, entry);
        }
    }

    void unread(const cv_uac_class *cls, const xmlNode *entry) {
        report_unread(unread_by(cls, entry), entry);
    }

    /* A user, group or default entry holds elements that other classes
     * read: its docroots (file_system/access/paths/path, the docroot
     * class), its logging settings (the logging class) and its variable
     * definitions (read whole by the user's build step).  Those are judged
     * by the class that reads them. */
    void unread_user_entry(const xmlNode *entry) {
        struct delegate {
            const xmlNode *element;
            const cv_uac_class *cls; /* null: read whole */
        };
        std::vector<delegate> delegates;
        std::vector<const xmlNode *> containers;
        each_element(entry, [&](xmlNode *child) {
            const std::int32_t tag = tag_of(child);
            if (tag == PARSE_XML_TAG_logging) delegates.push_back({child, &cv_uac_logging_class});
            if (tag == PARSE_XML_TAG_variable) delegates.push_back({child, nullptr});
            if (tag != PARSE_XML_TAG_file_system) return;
            each_element(child, [&](xmlNode *access) {
                if (tag_of(access) != PARSE_XML_TAG_access) return;
                each_element(access, [&](xmlNode *paths) {
                    if (tag_of(paths) != PARSE_XML_TAG_paths) return;
                    containers.insert(containers.end(), {child, access, paths});
                    each_element(paths, [&](xmlNode *path) {
                        if (tag_of(path) == PARSE_XML_TAG_path)
                            delegates.push_back({path, &cv_uac_docroot_class});
                    });
                });
            });
        });
        std::vector<cv_uac_unread_element> list;
        for (const cv_uac_unread_element &element : unread_by(&cv_uac_user_class, entry)) {
            bool taken = std::find(containers.begin(), containers.end(), element.element) !=
                         containers.end();
            for (const delegate &other : delegates)
                taken = taken || element.element == other.element ||
                        below(element.element, other.element);
            if (!taken) list.push_back(element);
        }
        for (const delegate &other : delegates)
            if (other.cls)
                for (const cv_uac_unread_element &element : unread_by(other.cls, other.element))
                    list.push_back(element);
        std::sort(list.begin(), list.end(),
                  [](const auto &a, const auto &b) { return a.line < b.line; });
        report_unread(list, entry);
    }

    /* The server settings are one object read from every server element. */
    void check_server() {
        const std::int32_t path[] = {PARSE_XML_TAG_server, PARSE_XML_END};
        xmlNode **elements = cv_uac_find_nodes(set_, path);
        cv_uac_server *server = cv_uac_get_server_settings(set_);
        if (server) validate(&server->object, elements ? elements[0] : nullptr);
        if (server) cv_uac_config_release(&server->object);
        cv_uac_free(elements);
    }

    bool in_set(const char *path) const {
        for (std::int32_t i = 0; i < set_->count; ++i)
            if (set_->paths[i] && std::strcmp(set_->paths[i], path) == 0) return true;
        return false;
    }

    void check_conf_d_files() {
        if (!set_->conf_d) return;
        cv_dir_walk *walk = nullptr;
        if (cv_dir_walk_open(&walk, set_->conf_d) != CV_OK) return;
        char name[CV_PATH_SIZE];
        std::uint32_t type = 0;
        const bool full = set_->count >= static_cast<std::int32_t>(CV_UAC_MAX_CONF_FILES);
        for (cv_status status = cv_dir_walk_next(walk, name, sizeof name, &type);
             status != CV_E_END_REACHED;
             status = cv_dir_walk_next(walk, name, sizeof name, &type)) {
            if (status != CV_OK || type != CV_WALK_FILE) continue;
            char canonical[CV_PATH_SIZE];
            if (cv_path_canonicalize(name, canonical, sizeof canonical) < 0 || in_set(canonical))
                continue;
            cvconf_origin where;
            where.file = canonical;
            if (full)
                findings_.push_back({finding_kind::left_out, where,
                                     "left out: a configuration holds at most " +
                                         std::to_string(CV_UAC_MAX_CONF_FILES) + " files",
                                     "", ""});
            else
                findings_.push_back({finding_kind::unreadable, where,
                                     "cannot be read as a version 2 configuration file", "", ""});
        }
        (void)cv_dir_walk_close(&walk);
    }

    const cv_uac_conf_set *set_;
    std::vector<finding> findings_;
};

std::string where_text(const cvconf_origin &where) {
    std::string text = cvconf_display(where.file);
    if (where.line > 0) {
        text += ':';
        text += std::to_string(where.line);
    }
    text += ':';
    if (!where.entry.empty()) {
        text += ' ';
        text += cvconf_display(where.entry);
        text += ':';
    }
    return text;
}

void print_json(const cv_uac_conf_set *set, const std::vector<finding> &findings) {
    cvconf_json json;
    json.begin_object().key("files").begin_array();
    for (std::int32_t i = 0; i < set->count; ++i)
        if (set->paths[i]) json.string(set->paths[i]);
    json.end_array().key("findings").begin_array();
    for (const finding &found : findings) {
        json.begin_object()
            .key("kind")
            .string(kind_name(found.kind))
            .key("file")
            .string(found.where.file);
        json.key("line");
        if (found.where.line > 0) {
            json.number(found.where.line);
        } else {
            json.null();
        }
        json.key("entry").string(found.where.entry).key("text").string(found.text);
        if (found.kind == finding_kind::unknown) {
            json.key("element").string(found.element).key("suggestion");
            if (found.suggestion.empty()) {
                json.null();
            } else {
                json.string(found.suggestion);
            }
        }
        json.end_object();
    }
    json.end_array().end_object();
    std::fputs(json.text().c_str(), stdout);
}

}  // namespace

int cvconf_check(const cvconf_args &args) {
    if (args.words.size() != 1) return cvconf_fail(CVCONF_EXIT_ERROR, "usage: cvconf check");
    cvconf_config config;
    std::string error;
    if (config.load(args.conf, &error) != CVCONF_EXIT_OK)
        return cvconf_fail(CVCONF_EXIT_ERROR, error);
    checker check(config.set);
    check.run();
    const std::vector<finding> &findings = check.findings();
    if (args.json) {
        print_json(config.set, findings);
    } else {
        for (const finding &found : findings)
            std::printf("%s %s\n", where_text(found.where).c_str(),
                        cvconf_display(found.text).c_str());
        std::printf("%d files checked, %zu %s\n", config.set->count, findings.size(),
                    findings.size() == 1 ? "problem" : "problems");
    }
    const bool unreadable = std::any_of(findings.begin(), findings.end(), [](const finding &f) {
        return f.kind == finding_kind::unreadable;
    });
    if (unreadable) return CVCONF_EXIT_ERROR;
    return findings.empty() ? CVCONF_EXIT_OK : CVCONF_EXIT_FOUND;
}
