// Writing one option's override as a file of its own in the conf.d folder.
//
// The file is named from the class and the option, "<class>_<option>.conf",
// and holds the option's path under the class element.  It replaces an
// earlier file of the same name atomically: the content goes to a temporary
// file in the same folder, named with the process id, which is flushed to
// disk and then renamed over the final name.  Readers therefore see either
// the old file or the whole new one, and a failure at any step removes the
// temporary file and leaves the old file as it was.
#include <cstring>

#include "cvplatform/cv_file.h"
#include "cvplatform/cv_mutex.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"
#include "parse_config_options_internal.h"

namespace {

using namespace cv_uac_config_impl;

/* The file's content: the override `text` at `path` under the class
 * element.  0, or 28677 when it does not fit. */
cv_status compose(const char *class_name, const std::int32_t *path, const char *text,
                  char (&content)[CV_UAC_CONF_D_CONTENT_SIZE], std::size_t *length) {
    std::size_t cursor = 0;
    cv_status status = cv_str_append_printf(content, sizeof content, &cursor,
                                            "<CONF version=\"2\">\n   <%s>\n      ", class_name);
    std::size_t depth = 0;
    for (; status == CV_OK && path[depth] != PARSE_XML_END; ++depth)
        status = cv_str_append_printf(content, sizeof content, &cursor, "<%s>",
                                      parse_xml_tag_name(path[depth]));
    if (status == CV_OK) status = cv_str_append(content, text, sizeof content, &cursor);
    while (status == CV_OK && depth > 0)
        status = cv_str_append_printf(content, sizeof content, &cursor, "</%s>",
                                      parse_xml_tag_name(path[--depth]));
    if (status == CV_OK)
        status = cv_str_append_printf(content, sizeof content, &cursor, "\n   </%s>\n</CONF>\n",
                                      class_name);
    if (status != CV_OK) return CV_E_BUFFER_SPACE;
    *length = cursor;
    return CV_OK;
}

cv_status write_all(cv_file_handle *handle, const char *bytes, std::size_t length) {
    while (length > 0) {
        std::size_t written = 0;
        if (cv_status status = cv_file_write(handle, bytes, length, &written); status != CV_OK)
            return status;
        if (written == 0) return CV_E_INVALID;
        bytes += written;
        length -= written;
    }
    return CV_OK;
}

/* Writes `content` to `temporary`, flushes it and renames it to `final`;
 * the temporary file is removed on any failure. */
cv_status replace_file(const char *temporary, const char *final_path, const char *content,
                       std::size_t length) {
    cv_file_handle handle = CV_FILE_INVALID;
    cv_status status =
        cv_file_open(temporary, &handle, CV_FILE_WRITE | CV_FILE_CREATE | CV_FILE_TRUNCATE,
                     CV_UAC_CONF_D_FILE_MODE);
    if (status != CV_OK) return status;
    status = write_all(&handle, content, length);
    if (status == CV_OK) status = cv_file_flush(&handle);
    const cv_status closed = cv_file_close(&handle);
    if (status == CV_OK) status = closed;
    if (status == CV_OK) status = cv_file_rename(temporary, final_path);
    if (status != CV_OK) {
        (void)cv_file_delete(temporary);
        return status;
    }
    // The rename is only durable once the folder is on disk too; the new
    // file is in place either way, so a failure here is not reported.
    char folder[CV_PATH_SIZE];
    if (cv_path_get_parent(final_path, folder, sizeof folder) >= 0) (void)cv_dir_flush(folder);
    return CV_OK;
}

/* The text an override sets, after its condition ("?X:" or "?!X:"). */
const char *override_text(const char *text) {
    if (text[0] != '?') return text;
    const char *colon = std::strchr(text, ':');
    return colon ? colon + 1 : text;
}

bool climbs(const std::int32_t *path) {
    for (; *path != PARSE_XML_END; ++path)
        if (*path == PARSE_XML_TAG_Move_Up_to_Parent) return true;
    return false;
}

}  // namespace

namespace cv_uac_config_impl {

cv_status base_write_conf_d_override(cv_uac_config_object *object, cv_uac_conf_set **set_holder,
                                     cv_uac_warning **warnings, const char *name, const char *text,
                                     const char *directory) {
    if (!object || !object->header.descriptor || !name || !text || !directory) return CV_E_INVALID;
    cv_uac_class *cls = object->header.descriptor;
    // A path that climbs to a parent cannot be written below the class
    // element: the file would name the pseudo-tag as an element.
    const std::int32_t *path = cls->xml_path_by_name(object, name);
    if (!path || path[0] == PARSE_XML_END || climbs(path)) return CV_E_INVALID;
    // The content is composed before the override is applied, so that an
    // override too long for its file changes nothing at all.
    char content[CV_UAC_CONF_D_CONTENT_SIZE];
    std::size_t length = 0;
    if (cv_status status = compose(cls->name, path, override_text(text), content, &length);
        status != CV_OK)
        return status;
    if (!cls->get_generic_form(object, nullptr)) return CV_E_NO_MEMORY;
    cv_uac_generic_entry *entry = entry_by_name(object, name, warnings);
    if (!entry) return CV_E_INVALID;
    const char *applied = nullptr;
    if (cv_status status = set_entry(object, entry, text, warnings, &applied); status != CV_OK)
        return status;
    if (!applied) return CV_OK;  // a condition that did not hold changes nothing

    cv_status status = CV_OK;
    char folder[CV_PATH_SIZE];
    if (!cv_path_build_canonical_path(folder, sizeof folder, &status, "%s/../conf.d", directory))
        return status;
    if (status = cv_dir_create(folder, CV_UAC_CONF_D_FOLDER_MODE, 0); status != CV_OK)
        return status;
    char final_path[CV_PATH_SIZE];
    char temporary[CV_PATH_SIZE];
    if (!cv_path_build_canonical_path(final_path, sizeof final_path, &status,
                                      "%s/../conf.d/%s_%s.conf", directory, cls->name, name) ||
        !cv_path_build_canonical_path(temporary, sizeof temporary, &status,
                                      "%s/../conf.d/%s_%s.conf_%u", directory, cls->name, name,
                                      cv_process_id()))
        return status;
    if (status = replace_file(temporary, final_path, content, length); status != CV_OK)
        return status;

    if (set_holder) {
        if (*set_holder)
            (void)cv_uac_load_additional_conf_file(final_path, *set_holder);
        else
            *set_holder = cv_uac_load_conf_file(directory, 0);
    }
    return CV_OK;
}

}  // namespace cv_uac_config_impl
