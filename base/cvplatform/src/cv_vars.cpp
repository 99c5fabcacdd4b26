// Expansion of variable references in configuration values.
//
// "$(name)" is replaced by the variable's value; "|" takes the next character
// literally, in the text and inside a name; any other "$" is plain text.  A
// value may itself hold references, so the output of a pass that substituted
// something is expanded again, each pass consuming one level of escapes.
// Five passes may substitute; a substitution in a sixth means the values
// refer to each other in a loop (or nest too deeply), and the expansion stops.  The
// name HOME (any letter case), when the table does not define it, is the
// profile directory of the table's "user" or, without one, of the current
// user.  The work is done in scratch buffers, so the destination may be the
// source itself and is written only when the whole expansion succeeded.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

namespace {

// The last pass that may substitute; a substitution beyond it is refused.
constexpr int kMaxSubstitutingPass = 5;
// Scratch slots: the source copy, the output, the home directory.
constexpr std::size_t kScratchSlots = 3;

bool is_home(const char *name) {
    static constexpr char kHome[] = "HOME";
    for (std::size_t i = 0; i < sizeof(kHome); ++i) {
        char c = name[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != kHome[i]) return false;
    }
    return true;
}

// Scratch buffers of one expansion, released on every exit.
class scratch {
public:
    scratch() = default;
    scratch(const scratch &) = delete;
    scratch &operator=(const scratch &) = delete;
    ~scratch() { cv_stack_free_all(slots_, kScratchSlots, &state_); }

    // Each buffer is asked for on a line of its own: the line is the
    // buffer's identity, and asking again from it gives the same buffer.
    char *source(std::size_t size) { return checked(CV_STACK_ALLOC(size, slots_, state_)); }
    char *output(std::size_t size) { return checked(CV_STACK_ALLOC(size, slots_, state_)); }
    char *home(std::size_t size) { return checked(CV_STACK_ALLOC(size, slots_, state_)); }

private:
    char *checked(void *buffer) const {
        return state_ == CV_STACK_FAILED ? nullptr : static_cast<char *>(buffer);
    }

    cv_stack_slot slots_[kScratchSlots] = {};
    std::uint32_t state_ = CV_STACK_FRESH;
};

struct expansion {
    cv_btree *vars;
    std::size_t capacity;
    scratch &buffers;
    char *out;
    std::size_t out_len = 0;

    cv_status too_small() const {
        cv_log_error("Unable to parse variable string.  Dest too small.");
        return CV_E_BUFFER_TOO_SMALL;
    }

    // Every byte must leave room for the terminator.
    cv_status emit(char c) {
        if (out_len + 1 >= capacity) return too_small();
        out[out_len++] = c;
        return CV_OK;
    }

    cv_status emit(const char *value) {
        const std::size_t room = capacity - out_len - 1;
        const std::size_t length = cv_str_length(value, room + 1);
        if (length > room) return too_small();
        std::memcpy(out + out_len, value, length);
        out_len += length;
        return CV_OK;
    }

    // The profile directory HOME stands for: 0, 2 when it cannot be found,
    // 8 when there is no buffer for it.
    cv_status home_dir(const char **value) {
        char *dir = buffers.home(CV_STR_PATH_SIZE);
        if (dir == nullptr) return CV_E_NO_MEMORY;
        *value = dir;
        const char *user = nullptr;
        if (vars != nullptr && cv_btree_get(vars, "user", &user) == CV_OK && user != nullptr)
            return cv_path_get_user_home_dir(user, dir, CV_STR_PATH_SIZE) == CV_OK
                       ? CV_OK
                       : CV_E_FILE_NOT_FOUND;
        return cv_path_get_home_dir(dir, CV_STR_PATH_SIZE) >= 0 ? CV_OK : CV_E_FILE_NOT_FOUND;
    }

    cv_status resolve(const char *name, const char **value) {
        cv_status status = CV_E_FILE_NOT_FOUND;
        if (vars != nullptr) {
            status = cv_btree_get(vars, name, value);
            if (status == CV_OK && *value != nullptr) return CV_OK;
            if (status == CV_OK) status = CV_E_FILE_NOT_FOUND;
        }
        if (status == CV_E_FILE_NOT_FOUND && is_home(name)) {
            status = home_dir(value);
            if (status == CV_OK) return CV_OK;
        }
        if (cv_log_verbosity >= 1) cv_log_debug("Unmatched var in string translation: %s.", name);
        return status;
    }

    // One pass over `src` (a scratch copy: names are unescaped in place).
    cv_status pass(char *src, bool *substituted) {
        out_len = 0;
        *substituted = false;
        for (std::size_t i = 0; src[i] != '\0';) {
            if (src[i] == '|') {
                // A final bar is itself literal.
                const std::size_t step = src[i + 1] != '\0' ? 2 : 1;
                const cv_status status = emit(src[i + step - 1]);
                if (status != CV_OK) return status;
                i += step;
                continue;
            }
            if (src[i] != '$' || src[i + 1] != '(') {
                const cv_status status = emit(src[i++]);
                if (status != CV_OK) return status;
                continue;
            }

            char *name = src + i + 2;
            std::size_t close = 0;
            while (name[close] != '\0' && name[close] != ')')
                close += (name[close] == '|' && name[close + 1] != '\0') ? 2 : 1;
            if (name[close] != ')') {
                cv_log_error("Unterminated internal string var: \"%s\"", name);
                return CV_E_INVALID;
            }
            std::size_t kept = 0;
            for (std::size_t r = 0; r < close; ++r) {
                if (name[r] == '|') ++r;
                name[kept++] = name[r];
            }
            name[kept] = '\0';

            const char *value = nullptr;
            cv_status status = resolve(name, &value);
            if (status == CV_OK) status = emit(value);
            if (status != CV_OK) return status;
            *substituted = true;
            i += 2 + close + 1;
        }
        out[out_len] = '\0';
        return CV_OK;
    }
};

}  // namespace

cv_status cv_parse_variables_into_string(const char *src, char *dst, std::size_t capacity,
                                         cv_btree *vars, std::size_t *length) {
    if (src == nullptr) return CV_E_INVALID;
    if (capacity == 0) {
        cv_log_error("Unable to parse variable string.  Dest too small.");
        return CV_E_BUFFER_TOO_SMALL;
    }

    // The source buffer also takes each pass's output as the next source.
    const std::size_t src_size = std::strlen(src) + 1;
    scratch buffers;
    char *text = buffers.source(src_size > capacity ? src_size : capacity);
    char *out = buffers.output(capacity);
    if (text == nullptr || out == nullptr) return CV_E_NO_MEMORY;
    std::memcpy(text, src, src_size);

    expansion run{vars, capacity, buffers, out};
    for (int pass = 0;; ++pass) {
        bool substituted = false;
        const cv_status status = run.pass(text, &substituted);
        if (status != CV_OK) return status;
        if (!substituted) break;
        if (pass == kMaxSubstitutingPass) {
            cv_log_error(
                "Possible uncontrolled recursion in cv_parse_variables_into_string.  "
                "5 recursions exceeded");
            return CV_E_INVALID;
        }
        std::memcpy(text, out, run.out_len + 1);
    }

    if (dst != nullptr) std::memcpy(dst, out, run.out_len + 1);
    if (length != nullptr) *length = run.out_len + 1;
    return CV_OK;
}
