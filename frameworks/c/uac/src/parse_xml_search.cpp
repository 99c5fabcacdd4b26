// The search engine over decorated trees.
//
// A search path is a list of levels, each a tag number with an optional
// value test.  Matches are produced in depth-first order: for each start node
// in turn, level 1 runs over the start node's children with the level's tag,
// level 2 over the children of the element chosen at level 1, and so on; tag 0
// steps to the parent instead.  The candidates of a level come straight from
// the parent's tracker record (the first child with the tag, then the
// same-tag chain), so no other node is looked at.  A handle keeps the element
// chosen at every level and a cursor counting the passing candidates before
// it, so that a search resumes where it stopped: the deepest level moves on,
// and a level that runs out is reset while the level above moves on.  Each
// match costs at most one step per level plus the candidates passed over.
//
// When the caller asks for scores and gives a variable tree, every candidate
// is scored by the fitness callback before its value test.  A match's score
// is the sum over its levels when every level's element passes (scores 0 or
// more), and PARSE_XML_MATCH_OUT as soon as one of them fails, so that a
// failed rule can never be outvoted along the path.  Value tests with flags work on copies in
// fixed buffers of PARSE_XML_COMPARE_SIZE bytes on the stack.
#include <array>
#include <cstdarg>
#include <cstring>

#include "cvplatform/cv_error.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "parse_xml_internal.h"

namespace {

constexpr const char *kInvalidOptionMessage =
    "parse_xml_get_first_matching_node_args: Invalid option in XML search path!";
constexpr const char *kDepthMessage =
    "parse_xml_get_first_matching_node_args: search path depth exceeds %u levels!";

std::int32_t score_nothing(xmlNode *, cv_btree *, void *, std::uint8_t) { return 0; }

parse_xml_fitness_callback fitness_callback() {
    parse_xml_fitness_callback callback = parse_xml_state().fitness;
    return callback ? callback : score_nothing;
}

parse_xml_search_handle *new_handle() {
    cv_status status = CV_OK;
    auto *handle = static_cast<parse_xml_search_handle *>(
        cv_memory_pool_alloc(parse_xml_state().handle_pool, &status));
    if (!handle) {
        cv_log_error("Unable to allocate XML search handle");
        return nullptr;
    }
    std::memset(handle, 0, sizeof *handle);
    return handle;
}

/* Reads a path code by code.  `next_code` yields the next code; `next_value`
 * the string argument of a compare code (null when the form takes none, in
 * which case option and compare codes are refused).  False, logged, for a
 * refused path. */
template <typename NextCode, typename NextValue>
bool read_path(parse_xml_search_handle *handle, NextCode next_code, NextValue next_value,
               bool takes_options) {
    std::uint32_t flags = 0;
    std::int32_t mode = 0;
    const char *value = nullptr;
    for (;;) {
        const std::int32_t code = next_code();
        if (code == PARSE_XML_END) return true;
        if (code > PARSE_XML_ATTRIBUTE_BASE) {
            /* No attribute names are defined: the path ends here. */
            cv_log_error("UAC XML Attribute indexer: Invalid attribute index: %d", code);
            return true;
        }
        if (code < PARSE_XML_UNKNOWN_TAG || code >= PARSE_XML_TAG_COUNT) {
            cv_log_error("%s", kInvalidOptionMessage);
            return false;
        }
        if (handle->level_count == PARSE_XML_MAX_LEVELS) {
            cv_log_error(kDepthMessage, static_cast<unsigned>(PARSE_XML_MAX_LEVELS));
            return false;
        }
        const bool is_option = code <= PARSE_XML_TEXT_IS_PATTERN && code >= PARSE_XML_ACCOUNT_NAME;
        if (is_option && !takes_options) {
            cv_log_error("%s", kInvalidOptionMessage);
            return false;
        }
        switch (code) {
            case PARSE_XML_ACCOUNT_NAME:
                flags |= PARSE_XML_FLAG_TRIM | PARSE_XML_FLAG_ACCOUNT_NAME;
                continue;
            case PARSE_XML_TRIM:
                flags |= PARSE_XML_FLAG_TRIM;
                continue;
            case PARSE_XML_NOCASE:
                flags |= PARSE_XML_FLAG_NOCASE;
                continue;
            case PARSE_XML_NUMBER_EQUALS:
            case PARSE_XML_STRING_EQUALS:
            case PARSE_XML_VALUE_IS_PATTERN:
            case PARSE_XML_TEXT_IS_PATTERN:
                mode = code;
                value = next_value();
                continue;
            default:
                break;
        }
        parse_xml_search_level &level = handle->levels[handle->level_count++];
        level = parse_xml_search_level{-1, code, mode, flags, value, 0, 0, nullptr};
        flags = 0;
        mode = 0;
        value = nullptr;
    }
}

bool read_path_args(parse_xml_search_handle *handle, va_list args) {
    return read_path(
        handle, [&] { return static_cast<std::int32_t>(va_arg(args, int)); },
        [&] { return va_arg(args, const char *); }, true);
}

bool read_path_array(parse_xml_search_handle *handle, const std::int32_t *path) {
    if (!path) {
        cv_log_error("%s", kInvalidOptionMessage);
        return false;
    }
    std::size_t at = 0;
    return read_path(
        handle, [&] { return path[at++]; }, [] { return static_cast<const char *>(nullptr); },
        false);
}

/* A copy of `text` for a test with flags; false when it does not fit. */
bool prepare_copy(const char *text, std::uint32_t flags, bool normalize, char *buffer) {
    if (::strnlen(text, PARSE_XML_COMPARE_SIZE) >= PARSE_XML_COMPARE_SIZE) return false;
    const cv_status copied = (flags & PARSE_XML_FLAG_TRIM)
                                 ? cv_trimmed_str_to(buffer, text, PARSE_XML_COMPARE_SIZE, nullptr)
                                 : cv_str_copy(buffer, text, PARSE_XML_COMPARE_SIZE);
    if (copied != CV_OK) return false;
    if ((flags & PARSE_XML_FLAG_ACCOUNT_NAME) && normalize)
        (void)cv_user_name_normalize(buffer, PARSE_XML_COMPARE_SIZE, CV_NAME_RESOLUTION_MODE);
    if (flags & PARSE_XML_FLAG_NOCASE)
        for (char *c = buffer; *c; ++c)
            if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
    return true;
}

/* Reads a whole 64-bit integer: only white space may follow the digits. */
bool read_whole_number(const char *text, std::int64_t *number) {
    const char *end = nullptr;
    if (cv_str_to_i64(text, number, &end) != CV_OK) return false;
    while (*end == ' ' || (*end >= '\t' && *end <= '\r')) ++end;
    return *end == '\0';
}

bool compare_passes(const char *text, const parse_xml_search_level &level) {
    if (level.compare_mode == 0) return true;
    if (!text || !level.compare_value) return false;
    const char *subject = text;
    const char *value = level.compare_value;
    std::array<char, PARSE_XML_COMPARE_SIZE> subject_copy;
    std::array<char, PARSE_XML_COMPARE_SIZE> value_copy;
    if (level.compare_flags != 0) {
        if (!prepare_copy(text, level.compare_flags,
                          level.compare_mode != PARSE_XML_TEXT_IS_PATTERN, subject_copy.data()) ||
            !prepare_copy(value, level.compare_flags,
                          level.compare_mode != PARSE_XML_VALUE_IS_PATTERN, value_copy.data()))
            return false;
        subject = subject_copy.data();
        value = value_copy.data();
    }
    switch (level.compare_mode) {
        case PARSE_XML_NUMBER_EQUALS: {
            std::int64_t subject_number = 0;
            if (!read_whole_number(subject, &subject_number)) return false;
            std::int64_t value_number = 0;
            if (!read_whole_number(value, &value_number)) value_number = 0;
            return subject_number == value_number;
        }
        case PARSE_XML_STRING_EQUALS:
            return std::strcmp(subject, value) == 0;
        case PARSE_XML_VALUE_IS_PATTERN:
            return cv_wildcard_match(value, subject) == 0;
        case PARSE_XML_TEXT_IS_PATTERN:
            return cv_wildcard_match(subject, value) == 0;
        default:
            return false;
    }
}

xmlNode *first_candidate(xmlNode *parent, std::int32_t tag) {
    if (tag == PARSE_XML_TAG_Move_Up_to_Parent) {
        xmlNode *up = parent->parent;
        return up && up->type == XML_ELEMENT_NODE ? up : nullptr;
    }
    return parse_xml_tracker_child(parse_xml_get_tracker(parent), tag);
}

xmlNode *next_candidate(xmlNode *current, std::int32_t tag) {
    if (tag == PARSE_XML_TAG_Move_Up_to_Parent) return nullptr;
    const parse_xml_tracker *record = parse_xml_get_tracker(current);
    return record ? record->next_same_tag : nullptr;
}

/* Scores `candidate` at `level` when scores are wanted, then tests it. */
bool candidate_passes(const parse_xml_search_handle *handle, parse_xml_search_level &level,
                      xmlNode *candidate) {
    level.score = handle->want_score && handle->variable_tree
                      ? fitness_callback()(candidate, handle->variable_tree,
                                           handle->fitness_extra, level.fitness_flags)
                      : 0;
    const parse_xml_tracker *record = parse_xml_get_tracker(candidate);
    return compare_passes(record ? record->text : nullptr, level);
}

/* The next complete chain of an open search, or null when there is none. */
xmlNode *advance(parse_xml_search_handle *handle) {
    if (handle->exhausted || handle->level_count == 0 || !handle->start_nodes) {
        handle->exhausted = true;
        return nullptr;
    }
    std::uint32_t depth = handle->level_count - 1;
    if (!handle->started) {
        handle->started = true;
        handle->start_index = 0;
        depth = 0;
    }
    for (;;) {
        xmlNode *start = handle->start_nodes[handle->start_index];
        if (!start) {
            handle->exhausted = true;
            return nullptr;
        }
        parse_xml_search_level &level = handle->levels[depth];
        xmlNode *parent = depth == 0 ? start : handle->levels[depth - 1].chosen;
        xmlNode *candidate = level.chosen ? next_candidate(level.chosen, level.tag)
                                          : first_candidate(parent, level.tag);
        while (candidate && !candidate_passes(handle, level, candidate))
            candidate = next_candidate(candidate, level.tag);
        if (candidate) {
            level.chosen = candidate;
            ++level.cursor;
            if (depth + 1 == handle->level_count) return candidate;
            ++depth;
            handle->levels[depth].chosen = nullptr;
            handle->levels[depth].cursor = -1;
            continue;
        }
        level.chosen = nullptr;
        level.cursor = -1;
        if (depth == 0) {
            ++handle->start_index;
        } else {
            --depth;
        }
    }
}

/* The score of the current match: the sum over its levels, saturated to 32
 * bits, so that conditions met at several levels add up; but
 * PARSE_XML_MATCH_OUT when the element of any level scored below 0.  An
 * element whose own rules fail is out, and so is every match through it:
 * no score of an ancestor or a descendant may outvote a failed rule. */
std::int32_t match_score(const parse_xml_search_handle *handle) {
    std::int64_t sum = 0;
    for (std::uint32_t i = 0; i < handle->level_count; ++i) {
        const std::int32_t score = handle->levels[i].score;
        if (score < 0) return PARSE_XML_MATCH_OUT;
        sum += score;
    }
    if (sum > INT32_MAX) return INT32_MAX;
    return static_cast<std::int32_t>(sum);
}

/* Runs the first step of a prepared search and hands the handle out or
 * frees it. */
xmlNode *first_match(parse_xml_search_handle *handle, parse_xml_search_handle **out,
                     std::int32_t *score) {
    xmlNode *match = advance(handle);
    if (score) *score = match ? match_score(handle) : 0;
    if (out)
        *out = handle;
    else
        (void)parse_xml_free_search_handle(handle);
    return match;
}

xmlNode *first_match_args(xmlNode *const *start, parse_xml_search_handle **out, va_list args) {
    if (out) *out = nullptr;
    parse_xml_search_handle *handle = new_handle();
    if (!handle) return nullptr;
    if (!read_path_args(handle, args)) {
        (void)parse_xml_free_search_handle(handle);
        return nullptr;
    }
    handle->start_nodes = start;
    return first_match(handle, out, nullptr);
}

}  // namespace

parse_xml_fitness_callback parse_xml_set_fitness_callback(parse_xml_fitness_callback callback) {
    parse_xml_fitness_callback previous = fitness_callback();
    parse_xml_state().fitness = callback;
    return previous;
}

xmlNode *parse_xml_get_first_matching_node_args(xmlNode *const *start,
                                                parse_xml_search_handle **handle, ...) {
    va_list args;
    va_start(args, handle);
    xmlNode *match = first_match_args(start, handle, args);
    va_end(args);
    return match;
}

const char *parse_xml_get_first_matching_text_args(xmlNode *const *start, ...) {
    va_list args;
    va_start(args, start);
    xmlNode *match = first_match_args(start, nullptr, args);
    va_end(args);
    const parse_xml_tracker *record = parse_xml_get_tracker(match);
    return record ? record->text : nullptr;
}

xmlNode *parse_xml_get_first_matching_node(xmlNode *const *start,
                                           parse_xml_search_handle **handle,
                                           const std::int32_t *path, cv_btree *variable_tree,
                                           void *fitness_extra, std::int32_t *score) {
    if (handle) *handle = nullptr;
    if (score) *score = 0;
    parse_xml_search_handle *search = new_handle();
    if (!search) return nullptr;
    if (!read_path_array(search, path)) {
        (void)parse_xml_free_search_handle(search);
        return nullptr;
    }
    search->start_nodes = start;
    search->variable_tree = variable_tree;
    search->fitness_extra = fitness_extra;
    search->want_score = score != nullptr;
    return first_match(search, handle, score);
}

xmlNode *parse_xml_get_next_matching_node(parse_xml_search_handle *handle, std::int32_t *score) {
    if (score) *score = 0;
    if (!handle) return nullptr;
    handle->want_score = score != nullptr;
    xmlNode *match = advance(handle);
    if (score && match) *score = match_score(handle);
    return match;
}

cv_status parse_xml_free_search_handle(parse_xml_search_handle *handle) {
    if (!handle) return CV_E_INVALID;
    const cv_status status = cv_memory_pool_free(parse_xml_state().handle_pool, handle);
    if (status != CV_OK) cv_log_error("Unable to free search handle");
    return status;
}

xmlNode *parse_xml_get_best_matching_node(xmlNode *const *start, const std::int32_t *path,
                                          cv_btree *variable_tree, void *fitness_extra) {
    parse_xml_search_handle *handle = nullptr;
    std::int32_t score = 0;
    xmlNode *match =
        parse_xml_get_first_matching_node(start, &handle, path, variable_tree, fitness_extra,
                                          &score);
    if (!handle) return nullptr;
    xmlNode *best = nullptr;
    std::int32_t best_score = -1;
    while (match) {
        if (score > best_score) {
            best_score = score;
            best = match;
        }
        match = parse_xml_get_next_matching_node(handle, &score);
    }
    (void)parse_xml_free_search_handle(handle);
    return best;
}
