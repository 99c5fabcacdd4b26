// The fitness of configuration elements and the registry of rule functions.
//
// An element's fitness comes from its attributes, walked in document order:
// the formula attribute, shorthand attributes named after a registered
// function (the registry is ordered by decreasing name length, so the first
// name that prefixes the attribute's name is the longest one) and attributes
// named like a variable (except `state`).  Each rule is a formula; the
// fitness is 0 without rules, 2 x (sum of the results) - 1 with rules, and
// -1 as soon as one rule fails, so that a failing element is always passed
// over.
//
// A shorthand's value is the function's argument, never formula text: it is
// written into the rule between quote characters that it does not contain
// (name="value"), so that no parenthesis, operator or delimiter in it can
// end the argument early and add terms of its own.  Refusing such
// characters instead would refuse ordinary values (cookie patterns are
// separated by "|", class lists by ";", addresses carry "/", ":" and
// brackets).  A value that holds every quote character, or a rule that
// would not fit, is refused: the rule fails, it is never cut or changed.
//
// The search engine scores candidates through a replaceable callback;
// cv_uac_fitness_install puts this module's scorer there.
#include "uac/cv_uac_fitness.h"

#include <cstring>
#include <limits>
#include <string_view>

#include "cvplatform/cv_containers.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"
#include "uac/parse_xml.h"

namespace {

/* Process-wide state of the rules: the registry and the default variable
 * tree, both set during start-up. */
struct fitness_state {
    cv_uac_function_registry registry{};
    cv_btree *default_variables = nullptr;
    parse_xml_fitness_callback previous_scorer = nullptr;
    bool installed = false;
};

fitness_state &state() {
    static fitness_state instance;
    return instance;
}

constexpr const char *kFormulaAttribute = "fitness";
constexpr const char *kStateAttribute = "state";

/* The value of an attribute: its single text child directly, or a copy
 * made by libxml2 when the value is split over several nodes. */
class attribute_value {
public:
    explicit attribute_value(const xmlAttr *attribute) {
        const xmlNode *child = attribute->children;
        if (!child) return;
        if (child->type == XML_TEXT_NODE && !child->next) {
            text_ = reinterpret_cast<const char *>(child->content);
            return;
        }
        owned_ = xmlNodeListGetString(attribute->doc, child, 1);
        text_ = reinterpret_cast<const char *>(owned_);
    }
    ~attribute_value() {
        if (owned_) xmlFree(owned_);
    }
    attribute_value(const attribute_value &) = delete;
    attribute_value &operator=(const attribute_value &) = delete;

    const char *text() const { return text_ ? text_ : ""; }

private:
    const char *text_ = nullptr;
    xmlChar *owned_ = nullptr;
};

const cv_uac_function_record *function_prefixing(const cv_uac_function_registry *registry,
                                                 std::string_view name) {
    for (const cv_uac_function_record *record = registry ? registry->head : nullptr; record;
         record = record->next)
        if (name.substr(0, record->name_length) ==
            std::string_view(record->name, record->name_length))
            return record;
    return nullptr;
}

/* The characters that may enclose a function's argument after "=": the
 * argument runs to the next one of the same kind, without nesting. */
constexpr std::string_view kArgumentQuotes = "\"'#$";

/* Why a shorthand rule cannot be written. */
enum class refusal { unquotable, too_long };

/* Fails the rule of `attribute`: logged, and left in `error_text`. */
void refuse_rule(char *error_text, refusal reason, std::string_view attribute) {
    char name[CV_UAC_FITNESS_ERROR_SIZE / 2];
    (void)cv_log_escape(attribute.data(), attribute.size(), name, sizeof name);
    char text[CV_UAC_FITNESS_ERROR_SIZE];
    if (reason == refusal::unquotable)
        (void)cv_snprintf(text, sizeof text, "Value of attribute %s holds every quote character",
                          name);
    else
        (void)cv_snprintf(text, sizeof text, "Rule of attribute %s longer than %zu characters", name,
                          CV_UAC_SHORTHAND_FORMULA_MAX);
    cv_log_error("UAC failed to apply fitness rule: %s", text);
    if (error_text) (void)cv_str_copy(error_text, text, CV_UAC_FITNESS_ERROR_SIZE);
}

/* Room for a shorthand rule: the quoted form name="value" is one character
 * longer than name(value), which CV_UAC_SHORTHAND_FORMULA_MAX bounds. */
constexpr std::size_t kShorthandSize = CV_UAC_SHORTHAND_FORMULA_MAX + 2;

/* Writes the rule name="value" for a shorthand attribute into `formula`,
 * quoted with the first quote character that `value` does not contain.
 * False, refused with a log line, when there is none or name(value) would
 * exceed CV_UAC_SHORTHAND_FORMULA_MAX characters. */
bool shorthand_rule(std::string_view function, std::string_view attribute, std::string_view value,
                    char (&formula)[kShorthandSize], char *error_text) {
    char delimiter = '\0';
    for (const char candidate : kArgumentQuotes)
        if (value.find(candidate) == std::string_view::npos) {
            delimiter = candidate;
            break;
        }
    if (delimiter == '\0') {
        refuse_rule(error_text, refusal::unquotable, attribute);
        return false;
    }
    if (function.size() + value.size() + 2 > CV_UAC_SHORTHAND_FORMULA_MAX) {
        refuse_rule(error_text, refusal::too_long, attribute);
        return false;
    }
    (void)cv_snprintf(formula, sizeof formula, "%.*s=%c%.*s%c", static_cast<int>(function.size()),
                      function.data(), delimiter, static_cast<int>(value.size()), value.data(),
                      delimiter);
    return true;
}

}  // namespace

cv_uac_function_registry *cv_uac_default_function_registry() { return &state().registry; }

cv_status cv_uac_register_function_in(cv_uac_function_registry *registry, const char *name,
                                      cv_uac_rule_function function,
                                      cv_uac_rule_function *previous) {
    if (previous) *previous = nullptr;
    if (!registry || !name || !function) return CV_E_INVALID;
    const std::size_t length = cv_str_length(name, CV_UAC_FUNCTION_NAME_MAX + 1);
    if (length == 0 || length > CV_UAC_FUNCTION_NAME_MAX) return CV_E_INVALID;

    cv_uac_function_record **link = &registry->head;
    for (; *link && (*link)->name_length >= length; link = &(*link)->next) {
        cv_uac_function_record *record = *link;
        if (record->name_length == length && std::memcmp(record->name, name, length) == 0) {
            if (cv_log_verbosity >= 2) cv_log_debug("Replacing function %s", name);
            if (previous) *previous = record->function;
            record->function = function;
            return CV_OK;
        }
    }
    auto *record = static_cast<cv_uac_function_record *>(
        CV_UAC_CALLOC(sizeof(cv_uac_function_record), "Rule function record"));
    if (!record) {
        cv_log_error("Unable to allocate memory for function storage");
        return CV_E_NO_MEMORY;
    }
    record->name_length = length;
    std::memcpy(record->name, name, length);
    record->function = function;
    record->next = *link;
    *link = record;
    return CV_OK;
}

cv_status cv_uac_register_function(const char *name, cv_uac_rule_function function,
                                   cv_uac_rule_function *previous) {
    return cv_uac_register_function_in(&state().registry, name, function, previous);
}

void cv_uac_function_registry_clear(cv_uac_function_registry *registry) {
    if (!registry) return;
    for (cv_uac_function_record *record = registry->head; record;) {
        cv_uac_function_record *next = record->next;
        cv_uac_free(record);
        record = next;
    }
    registry->head = nullptr;
}

cv_status cv_uac_register_builtin_functions(cv_uac_function_registry *registry) {
    struct builtin {
        const char *name;
        cv_uac_rule_function function;
    };
    static constexpr builtin kBuiltins[] = {
        {"cookie", cv_uac_rule_cookie},           {"stgl_provider", cv_uac_rule_cookie},
        {"peer_domain", cv_uac_rule_peer_domain}, {"peer_ip", cv_uac_rule_peer_ip},
        {"classes", cv_uac_rule_classes},
    };
    for (const builtin &entry : kBuiltins)
        if (cv_status status =
                cv_uac_register_function_in(registry, entry.name, entry.function, nullptr);
            status != CV_OK)
            return status;
    return CV_OK;
}

cv_status cv_uac_variable_lookup_tree(cv_btree *variables, const char *name, const char **value) {
    if (value) *value = nullptr;
    return cv_btree_get(variables, name, value);
}

std::int32_t parse_xml_eval_fitness(xmlNode *element, cv_uac_variable_lookup lookup,
                                    cv_btree *variables, const cv_uac_function_registry *registry,
                                    char *error_text, const char *formula_attribute) {
    if (!element || element->type != XML_ELEMENT_NODE) return 0;
    if (!formula_attribute) formula_attribute = kFormulaAttribute;
    std::int64_t sum = 0;
    bool any_rule = false;
    for (const xmlAttr *attribute = element->properties; attribute; attribute = attribute->next) {
        const std::string_view name(reinterpret_cast<const char *>(attribute->name));
        const attribute_value value(attribute);
        char shorthand[kShorthandSize];
        const char *formula = nullptr;
        if (name == formula_attribute) {
            formula = value.text();
        } else if (const cv_uac_function_record *function = function_prefixing(registry, name)) {
            if (!shorthand_rule({function->name, function->name_length}, name, value.text(),
                                shorthand, error_text))
                return -1;
            formula = shorthand;
        } else {
            const char *supplied = nullptr;
            if (name == kStateAttribute || !lookup || !variables ||
                lookup(variables, reinterpret_cast<const char *>(attribute->name), &supplied) !=
                    CV_OK)
                continue;
            if (!shorthand_rule(name, name, value.text(), shorthand, error_text)) return -1;
            formula = shorthand;
        }
        std::int32_t result = 0;
        if (evaluate_formula(formula, &result, lookup, variables, registry, error_text) != CV_OK)
            return -1;
        sum += result;
        any_rule = true;
    }
    if (!any_rule) return 0;
    const std::int64_t fitness = 2 * sum - 1;
    if (fitness > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (fitness < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(fitness);
}

std::int32_t cv_uac_fitness_callback(xmlNode *element, cv_btree *variables, void *fitness_extra,
                                     std::uint8_t) {
    const auto *registry = fitness_extra
                               ? static_cast<const cv_uac_function_registry *>(fitness_extra)
                               : &state().registry;
    char error_text[CV_UAC_FITNESS_ERROR_SIZE];
    return parse_xml_eval_fitness(element, cv_uac_variable_lookup_tree, variables, registry,
                                  error_text, nullptr);
}

cv_status cv_uac_fitness_install() {
    fitness_state &s = state();
    if (s.installed) return CV_OK;
    if (cv_status status = cv_uac_register_builtin_functions(&s.registry); status != CV_OK)
        return status;
    s.previous_scorer = parse_xml_set_fitness_callback(cv_uac_fitness_callback);
    s.installed = true;
    return CV_OK;
}

void cv_uac_fitness_uninstall() {
    fitness_state &s = state();
    if (s.installed) {
        (void)parse_xml_set_fitness_callback(s.previous_scorer);
        s.previous_scorer = nullptr;
        s.installed = false;
    }
    cv_uac_function_registry_clear(&s.registry);
}

cv_btree *cv_uac_default_variable_tree() { return state().default_variables; }

void cv_uac_set_default_variable_tree(cv_btree *variables) {
    state().default_variables = variables;
}
