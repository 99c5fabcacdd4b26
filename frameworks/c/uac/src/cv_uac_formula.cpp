// The formula evaluator of fitness rules.
//
// A formula is read one level at a time into a list of (operator, value)
// cells: an operand, then an operator and an operand, and so on until the
// end of the level's text.  An operand is a number, a parenthesised formula
// (evaluated as a level of its own) or a function call, each optionally led
// by `!` prefixes.  The list is then reduced one precedence level at a time,
// highest first, left to right, folding each cell of that level into its
// left neighbour, so every operator is left-associative and binds as its
// level says.  Each level reads its text once and reduces it in at most
// seven passes; nesting is bounded by CV_UAC_FORMULA_MAX_DEPTH, so deep
// input can neither exhaust the stack nor cost more than depth x length.
//
// Texts are handled as views into the caller's formula: nothing is copied
// except a function's name and argument, into fixed buffers.  Arithmetic is
// done in 64 bits and clamped to 32, so no operation can trap.
#include <cstdarg>
#include <cstring>
#include <limits>
#include <string_view>

#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/cv_uac_fitness.h"

namespace {

constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

bool is_space(char c) { return kWhiteSpace.find(c) != std::string_view::npos && c != '\0'; }

/* Precedence of a binary operator, -1 for any other character. */
int precedence_of(char op) {
    switch (op) {
        case '*':
        case '/':
        case '%':
            return 6;
        case '+':
        case '-':
            return 5;
        case '<':
        case '>':
            return 4;
        case '=':
        case '#':
            return 3;
        case '&':
            return 2;
        case '^':
            return 1;
        case '|':
            return 0;
        default:
            return -1;
    }
}
constexpr int kHighestPrecedence = 6;

std::int32_t clamp32(std::int64_t value) {
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

struct operand_cell {
    char op;  // '\0' for the first cell
    std::int32_t value;
    operand_cell *next;
};

/* One evaluation in progress: the look-ups, the error buffer and the
 * scratch heap shared by all its levels. */
struct evaluation {
    cv_uac_variable_lookup lookup;
    cv_btree *variables;
    const cv_uac_function_registry *registry;
    char *error_text;
    cv_uac_heap *scratch;
};

/* Formats the failure text into the error buffer, logs it and returns
 * `status`. */
cv_status fail(const evaluation &ev, cv_status status, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
cv_status fail(const evaluation &ev, cv_status status, const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (cv_vsnprintf(ev.error_text, CV_UAC_FITNESS_ERROR_SIZE, format, args) < 0)
        ev.error_text[0] = '\0';
    va_end(args);
    cv_log_error("UAC failed to apply fitness rule: %s", ev.error_text);
    return status;
}

/* The view `text` from `at` on, for messages. */
int rest_length(std::string_view text, std::size_t at) {
    return static_cast<int>(text.size() - at);
}

class level_reader {
public:
    level_reader(const evaluation &ev, std::string_view text, std::size_t depth)
        : ev_(ev), text_(text), depth_(depth) {}

    cv_status evaluate(std::int32_t *result) {
        skip_space();
        if (at_end()) return fail(ev_, CV_E_INVALID, "Empty formula");
        operand_cell *head = new_cell('\0');
        if (!head) return fail(ev_, CV_E_NO_MEMORY, "Unable to allocate workspace");
        operand_cell *tail = head;
        for (;;) {
            if (cv_status status = read_operand(&tail->value); status != CV_OK) return status;
            skip_space();
            if (at_end()) break;
            const char op = text_[at_];
            if (precedence_of(op) < 0)
                return fail(ev_, CV_E_INVALID, "Unrecognized operator: \"%c\" (0x%02X)", op,
                            static_cast<unsigned>(static_cast<unsigned char>(op)));
            operand_cell *cell = new_cell(op);
            if (!cell) return fail(ev_, CV_E_NO_MEMORY, "Unable to allocate workspace");
            tail->next = cell;
            tail = cell;
            ++at_;
            skip_space();
            if (at_end())
                return fail(ev_, CV_E_INVALID, "Formula ends with operator \"%c\".  Missing value.",
                            op);
        }
        return reduce(head, result);
    }

private:
    bool at_end() const { return at_ >= text_.size(); }
    void skip_space() {
        while (!at_end() && is_space(text_[at_])) ++at_;
    }

    operand_cell *new_cell(char op) {
        auto *cell = static_cast<operand_cell *>(
            cv_uac_heap_alloc(ev_.scratch, sizeof(operand_cell), alignof(operand_cell)));
        if (cell) *cell = operand_cell{op, 0, nullptr};
        return cell;
    }

    cv_status read_operand(std::int32_t *value) {
        std::size_t negations = 0;
        while (!at_end() && text_[at_] == '!') {
            ++negations;
            ++at_;
            skip_space();
        }
        if (at_end())
            return fail(ev_, CV_E_INVALID, "Formula ends with operator \"%c\".  Missing value.",
                        '!');
        const char c = text_[at_];
        cv_status status = CV_OK;
        if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '%')
            status = read_number(value);
        else if (c == '(')
            status = read_parenthesised(value);
        else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            status = read_call(value);
        else
            return fail(ev_, CV_E_INVALID, "Unrecognized character in formula: %c", c);
        if (status != CV_OK) return status;
        if (negations % 2 == 1)
            *value = *value == 0 ? 1 : 0;
        else if (negations > 0)
            *value = *value != 0 ? 1 : 0;
        return CV_OK;
    }

    cv_status read_number(std::int32_t *value) {
        if (text_[at_] == '+') ++at_;
        // The reader stops at the first character that is no digit of the
        // base; every level's text is followed by such a character (the
        // closing parenthesis or the formula's terminator), so it never
        // reads past the view.
        const char *start = text_.data() + at_;
        const char *end = start;
        const cv_status status = cv_str_to_i32(start, value, &end);
        if (status != CV_OK)
            return fail(ev_, status, "Invalid numeric: %.*s", rest_length(text_, at_),
                        text_.data() + at_);
        at_ += static_cast<std::size_t>(end - start);
        return CV_OK;
    }

    cv_status read_parenthesised(std::int32_t *value) {
        if (depth_ + 1 > CV_UAC_FORMULA_MAX_DEPTH)
            return fail(ev_, CV_E_INVALID, "Formula nested deeper than %zu parentheses",
                        CV_UAC_FORMULA_MAX_DEPTH);
        std::size_t open = 1;
        std::size_t close = at_ + 1;
        for (; close < text_.size(); ++close) {
            if (text_[close] == '(') ++open;
            if (text_[close] == ')' && --open == 0) break;
        }
        if (open != 0) return fail(ev_, CV_E_INVALID, "Unmatched parenthesis");
        level_reader inner(ev_, text_.substr(at_ + 1, close - at_ - 1), depth_ + 1);
        const cv_status status = inner.evaluate(value);
        at_ = close + 1;
        return status;
    }

    /* A function name ends at a control character, a blank, "=", a quote
     * character, "$", or an opening bracket. */
    static bool ends_name(char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F ||
               std::string_view(" =\"'#$(<[{").find(c) != std::string_view::npos;
    }

    static char closing_of(char open) {
        switch (open) {
            case '(':
                return ')';
            case '{':
                return '}';
            case '[':
                return ']';
            case '<':
                return '>';
            default:
                return '\0';
        }
    }

    cv_status read_call(std::int32_t *value) {
        const std::size_t name_start = at_;
        while (!at_end() && !ends_name(text_[at_])) ++at_;
        const std::string_view name_view = text_.substr(name_start, at_ - name_start);
        if (name_view.size() > CV_UAC_FORMULA_NAME_MAX)
            return fail(ev_, CV_E_INVALID, "Function name longer than %zu characters: %.32s...",
                        CV_UAC_FORMULA_NAME_MAX, name_view.data());
        char name[CV_UAC_FORMULA_NAME_MAX + 1];
        std::memcpy(name, name_view.data(), name_view.size());
        name[name_view.size()] = '\0';

        skip_space();
        bool after_equals = false;
        if (!at_end() && text_[at_] == '=') {
            after_equals = true;
            ++at_;
            skip_space();
        }
        if (at_end()) return fail(ev_, CV_E_INVALID, "Function %s has no parameter", name);

        const char open = text_[at_];
        const char close = closing_of(open);
        std::size_t end = at_ + 1;
        if (close != '\0') {
            std::size_t nesting = 1;
            for (; end < text_.size(); ++end) {
                if (text_[end] == open) ++nesting;
                if (text_[end] == close && --nesting == 0) break;
            }
        } else if (open == '"' || open == '\'' || open == '#' || open == '$') {
            if (!after_equals)
                return fail(ev_, CV_E_INVALID,
                            "Inappropriate function parameter delimiter: %c.  Should be (), {}, "
                            "[] or <>",
                            open);
            while (end < text_.size() && text_[end] != open) ++end;
        } else {
            return fail(ev_, CV_E_INVALID, "Unrecognized function parameter delimiter: %c", open);
        }
        if (end >= text_.size())
            return fail(ev_, CV_E_INVALID, "Unterminated parameter for function %s", name);

        const std::string_view argument_view = text_.substr(at_ + 1, end - at_ - 1);
        if (argument_view.size() > CV_UAC_FORMULA_ARGUMENT_MAX)
            return fail(ev_, CV_E_INVALID, "Parameter of function %s longer than %zu characters",
                        name, CV_UAC_FORMULA_ARGUMENT_MAX);
        char argument[CV_UAC_FORMULA_ARGUMENT_MAX + 1];
        std::memcpy(argument, argument_view.data(), argument_view.size());
        argument[argument_view.size()] = '\0';
        at_ = end + 1;

        const char *supplied = nullptr;
        if (ev_.lookup && ev_.variables && ev_.lookup(ev_.variables, name, &supplied) != CV_OK)
            supplied = nullptr;
        return call_rule_function(name, argument, supplied, value, ev_.registry, ev_.error_text,
                                  ev_.scratch);
    }

    cv_status apply(std::int32_t left, char op, std::int32_t right, std::int32_t *out) {
        const std::int64_t a = left;
        const std::int64_t b = right;
        switch (op) {
            case '*':
                *out = clamp32(a * b);
                return CV_OK;
            case '/':
                if (b == 0) return fail(ev_, CV_E_BUFFER_TOO_SMALL, "Divide by zero detected");
                *out = clamp32(a / b);
                return CV_OK;
            case '%':
                if (b == 0) {
                    cv_log_info("Formula parser: Modulo by zero detected");
                    (void)cv_str_copy(ev_.error_text, "Modulo by zero detected",
                                      CV_UAC_FITNESS_ERROR_SIZE);
                    return CV_E_BUFFER_TOO_SMALL;
                }
                *out = clamp32(a % b);
                return CV_OK;
            case '+':
                *out = clamp32(a + b);
                return CV_OK;
            case '-':
                *out = clamp32(a - b);
                return CV_OK;
            case '<':
                *out = a < b;
                return CV_OK;
            case '>':
                *out = a > b;
                return CV_OK;
            case '=':
                *out = a == b;
                return CV_OK;
            case '#':
                *out = a != b;
                return CV_OK;
            case '&':
                *out = a != 0 && b != 0;
                return CV_OK;
            case '^':
                *out = (a != 0) != (b != 0);
                return CV_OK;
            case '|':
                *out = a != 0 || b != 0;
                return CV_OK;
            default:
                return fail(ev_, CV_E_INVALID, "Unrecognized operator: \"%c\" (0x%02X)", op,
                            static_cast<unsigned>(static_cast<unsigned char>(op)));
        }
    }

    cv_status reduce(operand_cell *head, std::int32_t *result) {
        for (int level = kHighestPrecedence; level >= 0; --level) {
            operand_cell *left = head;
            while (operand_cell *cell = left->next) {
                if (precedence_of(cell->op) != level) {
                    left = cell;
                    continue;
                }
                if (cv_status status = apply(left->value, cell->op, cell->value, &left->value);
                    status != CV_OK)
                    return status;
                left->next = cell->next;
            }
        }
        *result = head->value;
        return CV_OK;
    }

    const evaluation &ev_;
    std::string_view text_;
    std::size_t depth_;
    std::size_t at_ = 0;
};

std::string_view trimmed(const char *text) {
    std::string_view view(text);
    while (!view.empty() && is_space(view.front())) view.remove_prefix(1);
    while (!view.empty() && is_space(view.back())) view.remove_suffix(1);
    return view;
}

/* A trimmed, terminated copy of `text` in `heap`, or null. */
char *scratch_copy(cv_uac_heap *heap, const char *text) {
    const std::string_view view = trimmed(text);
    auto *copy = static_cast<char *>(cv_uac_heap_alloc(heap, view.size() + 1, 1));
    if (!copy) return nullptr;
    std::memcpy(copy, view.data(), view.size());
    copy[view.size()] = '\0';
    return copy;
}

}  // namespace

cv_status call_rule_function(const char *name, const char *argument, const char *value,
                             std::int32_t *result, const cv_uac_function_registry *registry,
                             char *error_text, cv_uac_heap *scratch) {
    char own_error[CV_UAC_FITNESS_ERROR_SIZE];
    const evaluation ev{nullptr, nullptr, registry, error_text ? error_text : own_error, scratch};
    if (!name || !argument || !result || !scratch) return CV_E_INVALID;
    char *argument_copy = scratch_copy(scratch, argument);
    char *value_copy = value ? scratch_copy(scratch, value) : nullptr;
    if (!argument_copy || (value && !value_copy))
        return fail(ev, CV_E_NO_MEMORY, "Unable to allocate workspace");

    const std::size_t length = std::strlen(name);
    for (const cv_uac_function_record *record = registry ? registry->head : nullptr;
         record && record->name_length >= length; record = record->next) {
        if (record->name_length == length && std::memcmp(record->name, name, length) == 0)
            return record->function(argument_copy, value_copy, result, ev.error_text);
    }
    return fail(ev, CV_E_FILE_NOT_FOUND, "Function %s() not found", name);
}

cv_status evaluate_formula(const char *formula, std::int32_t *result, cv_uac_variable_lookup lookup,
                           cv_btree *variables, const cv_uac_function_registry *registry,
                           char *error_text) {
    char own_error[CV_UAC_FITNESS_ERROR_SIZE];
    if (!error_text) error_text = own_error;
    error_text[0] = '\0';
    if (!formula) {
        if (cv_log_verbosity >= 1) cv_log_debug("NULL formula");
        return CV_OK;
    }
    if (!result) return CV_E_INVALID;
    cv_uac_heap *scratch = nullptr;
    if (cv_uac_heap_create(&scratch, nullptr, nullptr) != CV_OK) {
        (void)cv_str_copy(error_text, "Unable to allocate workspace", CV_UAC_FITNESS_ERROR_SIZE);
        return CV_E_NO_MEMORY;
    }
    *result = 0;
    const evaluation ev{lookup, variables, registry, error_text, scratch};
    std::int32_t value = 0;
    level_reader top(ev, formula, 0);
    const cv_status status = top.evaluate(&value);
    (void)cv_uac_heap_release(&scratch);
    if (status == CV_OK) *result = value;
    return status;
}
