// libFuzzer target of the formula evaluator and the rule functions.
//
// The input (up to its first zero byte) is evaluated as a formula with the
// built-in functions and a fixed set of variables, and is also split at its
// first line break into an argument and a value for each rule function.
// Besides crashes, sanitizer reports, leaks and hangs, a fault is an error
// text that is not one terminated line within its 512 bytes, or a failure
// that leaves no text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "cvplatform/cv_containers.h"
#include "uac/cv_uac_fitness.h"

namespace {

cv_uac_function_registry registry{};
cv_btree *variables = nullptr;

void check_error_text(cv_status status, const char *error) {
    const std::size_t length = ::strnlen(error, CV_UAC_FITNESS_ERROR_SIZE);
    if (length == CV_UAC_FITNESS_ERROR_SIZE) __builtin_trap();
    if (status != 0 && length == 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (cv_uac_register_builtin_functions(&registry) != 0) return 1;
    if (cv_btree_create_strings(&variables) != 0) return 1;
    const char *const entries[][2] = {
        {"cookie", "abc|def"},         {"stgl_provider", "s3"}, {"peer_domain", "host.example.com"},
        {"peer_ip", "10.1.2.3:33001"}, {"classes", "gold"},
    };
    for (const auto &entry : entries)
        if (cv_btree_set(variables, entry[0], entry[1]) != 0) return 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data),
                           ::strnlen(reinterpret_cast<const char *>(data), size));
    char error[CV_UAC_FITNESS_ERROR_SIZE];
    std::int32_t result = 0;
    const cv_status status = evaluate_formula(text.c_str(), &result, cv_uac_variable_lookup_tree,
                                              variables, &registry, error);
    check_error_text(status, error);

    const std::size_t split = text.find('\n');
    const std::string argument = text.substr(0, split);
    const std::string value = split == std::string::npos ? std::string() : text.substr(split + 1);
    const cv_uac_rule_function functions[] = {cv_uac_rule_cookie, cv_uac_rule_peer_domain,
                                              cv_uac_rule_classes, cv_uac_rule_peer_ip};
    for (cv_uac_rule_function function : functions) {
        for (const char *supplied : {value.c_str(), static_cast<const char *>(nullptr)}) {
            error[0] = '\0';
            const cv_status rule = function(argument.c_str(), supplied, &result, error);
            check_error_text(rule, error);
        }
    }
    return 0;
}
