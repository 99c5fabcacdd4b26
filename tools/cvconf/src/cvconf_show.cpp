// `show`: a user's settings as a login of that account gets them, or the
// server's, each value with where it came from.
//
// The user's settings are the framework's own resolution for the name
// (cv_uac_get_user_settings over the set and master group set the shell
// loads), so groups come from the account database exactly as the shell
// sees them.  The object's attachments (its trunks, docroots and logging
// object) follow its own options, then its warnings.
#include "cvconf.h"
#include "cvconf_json.h"
#include "uac/cv_uac_classes.h"
#include "uac/cv_uac_docroot.h"
#include "uac/cv_uac_server.h"
#include "uac/cv_uac_user.h"

namespace {

/* One object of the report: the settings, or one of their attachments. */
struct shown_object {
    std::string title; /* "" for the settings themselves */
    std::string kind;  /* the JSON member it goes to: "trunks", "docroots", "logging" */
    std::string label; /* its JSON tag: a trunk's direction */
    std::vector<cvconf_option> options;
};

struct report {
    std::string class_name;
    std::string name;
    std::vector<shown_object> objects;
    std::vector<std::string> warnings; /* oldest first */
};

cv_status add_object(report *out, cv_uac_config_object *object, const cv_uac_conf_set *set,
                     std::string title, std::string kind, std::string label = "") {
    shown_object shown{std::move(title), std::move(kind), std::move(label), {}};
    if (cv_status status = cvconf_options_of(object, set, &shown.options); status != CV_OK)
        return status;
    out->objects.push_back(std::move(shown));
    return CV_OK;
}

void add_warnings(report *out, const cv_uac_warning *warnings) {
    std::vector<std::string> newest_first;
    for (const cv_uac_warning *w = warnings; w; w = w->next) newest_first.emplace_back(w->text);
    out->warnings.insert(out->warnings.end(), newest_first.rbegin(), newest_first.rend());
}

cv_status user_report(const cv_uac_conf_set *set, cv_uac_user *user, report *out) {
    auto *object = reinterpret_cast<cv_uac_config_object *>(user);
    cv_status status = add_object(out, object, set, "", "");
    const auto as_object = [](auto *attached) {
        return reinterpret_cast<cv_uac_config_object *>(attached);
    };
    if (status == CV_OK && user->in_trunk)
        status =
            add_object(out, as_object(user->in_trunk), set,
                       "trunk (in) " + std::to_string(user->in_trunk->trunk_id), "trunks", "in");
    if (status == CV_OK && user->out_trunk)
        status =
            add_object(out, as_object(user->out_trunk), set,
                       "trunk (out) " + std::to_string(user->out_trunk->trunk_id), "trunks", "out");
    std::size_t number = 1;
    for (cv_uac_docroot *docroot = user->docroots; status == CV_OK && docroot;
         docroot = docroot->next, ++number)
        status = add_object(out, as_object(docroot), set, "docroot " + std::to_string(number),
                            "docroots");
    if (status == CV_OK && user->logging)
        status = add_object(out, as_object(user->logging), set, "logging", "logging");
    add_warnings(out, object->warnings);
    return status;
}

void print_text(const report &shown, bool origin) {
    for (const shown_object &object : shown.objects) {
        if (!object.title.empty()) std::printf("\n[%s]\n", cvconf_display(object.title).c_str());
        for (const cvconf_option &option : object.options)
            cvconf_print_option(stdout, option, origin);
    }
    if (!shown.warnings.empty()) std::printf("\n");
    for (const std::string &warning : shown.warnings)
        std::printf("warning: %s\n", cvconf_display(warning).c_str());
}

void json_options(cvconf_json &json, const std::vector<cvconf_option> &options) {
    json.begin_array();
    for (const cvconf_option &option : options) {
        json.begin_object().key("key").string(option.key).key("value");
        if (!option.is_list) {
            json.string(option.value);
        } else if (option.null_list) {
            json.null();
        } else {
            json.begin_array();
            for (const std::string &item : option.items) json.string(item);
            json.end_array();
        }
        json.key("origin");
        if (option.origin.file.empty()) {
            json.null();
        } else {
            json.begin_object()
                .key("file")
                .string(option.origin.file)
                .key("line")
                .number(option.origin.line)
                .key("entry")
                .string(option.origin.entry)
                .end_object();
        }
        json.end_object();
    }
    json.end_array();
}

void json_objects(cvconf_json &json, const report &shown, const std::string &kind) {
    for (const shown_object &object : shown.objects) {
        if (object.kind != kind) continue;
        json.begin_object();
        if (!object.label.empty()) json.key("direction").string(object.label);
        json.key("options");
        json_options(json, object.options);
        json.end_object();
    }
}

void print_json(const report &shown) {
    cvconf_json json;
    json.begin_object().key("class").string(shown.class_name).key("name");
    if (shown.name.empty()) {
        json.null();
    } else {
        json.string(shown.name);
    }
    json.key("options");
    json_options(json, shown.objects.front().options);
    if (shown.class_name == "user") {
        json.key("trunks").begin_array();
        json_objects(json, shown, "trunks");
        json.end_array().key("docroots").begin_array();
        json_objects(json, shown, "docroots");
        json.end_array().key("logging");
        bool any = false;
        for (const shown_object &object : shown.objects) any = any || object.kind == "logging";
        if (any) {
            json_objects(json, shown, "logging");
        } else {
            json.null();
        }
    }
    // The warnings of a resolved object do not say which element they are
    // about: their file and line are unknown.
    json.key("warnings").begin_array();
    for (const std::string &warning : shown.warnings)
        json.begin_object()
            .key("text")
            .string(warning)
            .key("file")
            .null()
            .key("line")
            .null()
            .end_object();
    json.end_array().end_object();
    std::fputs(json.text().c_str(), stdout);
}

}  // namespace

int cvconf_show(const cvconf_args &args) {
    const std::vector<std::string> &words = args.words;
    const bool for_user = words.size() == 3 && words[1] == "user";
    const bool for_server = words.size() == 2 && words[1] == "server";
    if (!for_user && !for_server)
        return cvconf_fail(CVCONF_EXIT_ERROR, "usage: cvconf show user NAME | show server");
    if (for_user && words[2].empty())
        return cvconf_fail(CVCONF_EXIT_ERROR, "the user name is empty");
    cvconf_config config;
    std::string error;
    if (config.load(args.conf, &error) != CVCONF_EXIT_OK)
        return cvconf_fail(CVCONF_EXIT_ERROR, error);

    report shown;
    cv_status status = CV_OK;
    if (for_user) {
        shown.class_name = "user";
        shown.name = words[2];
        cv_uac_user *user = cv_uac_get_user_settings(config.set, words[2].c_str());
        if (!user)
            return cvconf_fail(CVCONF_EXIT_ERROR,
                               "the settings of user " + cvconf_display(words[2]) +
                                   " could not be built from " + cvconf_display(config.path));
        status = user_report(config.set, user, &shown);
        cv_uac_config_release(&user->object);
    } else {
        shown.class_name = "server";
        cv_uac_server *server = cv_uac_get_server_settings(config.set);
        if (!server)
            return cvconf_fail(CVCONF_EXIT_ERROR, "the server settings could not be built from " +
                                                      cvconf_display(config.path));
        auto *object = reinterpret_cast<cv_uac_config_object *>(server);
        status = add_object(&shown, object, config.set, "", "");
        add_warnings(&shown, object->warnings);
        cv_uac_config_release(object);
    }
    if (status != CV_OK)
        return cvconf_fail(CVCONF_EXIT_ERROR,
                           "a value could not be written (status " + std::to_string(status) + ")");
    if (args.json) {
        print_json(shown);
    } else {
        print_text(shown, args.origin);
    }
    return CVCONF_EXIT_OK;
}
