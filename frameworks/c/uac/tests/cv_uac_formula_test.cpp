// Tests of the formula evaluator: values, precedence and associativity,
// number bases, `!` prefixes, clamped overflow, every failure's status and
// text, the limits on names, arguments and nesting, and function calls with
// each argument delimiter.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "cv_test_log_capture.h"
#include "cv_uac_test_variables.h"
#include "uac/cv_uac_fitness.h"

CV_TEST_LOG_CAPTURE();

namespace {

/* A registry holding the built-in functions, private to the test. */
struct builtin_registry {
    cv_uac_function_registry registry{};
    builtin_registry() { EXPECT_EQ(cv_uac_register_builtin_functions(&registry), 0u); }
    ~builtin_registry() { cv_uac_function_registry_clear(&registry); }
};

struct outcome {
    cv_status status;
    std::int32_t result;
    std::string error;
};

outcome evaluate(const std::string &formula, cv_btree *variables = nullptr) {
    static builtin_registry functions;
    outcome out{};
    char error[CV_UAC_FITNESS_ERROR_SIZE];
    out.result = -12345;
    out.status = evaluate_formula(formula.c_str(), &out.result, cv_uac_variable_lookup_tree,
                                  variables, &functions.registry, error);
    out.error = error;
    return out;
}

TEST(Formula, ComputesValues) {
    const struct {
        const char *formula;
        std::int32_t result;
    } cases[] = {
        {"1", 1},         {"0", 0},         {"2+3*4", 14},        {"(2+3)*4", 20},
        {"!!7", 1},       {"!0", 1},        {"! ! 0", 0},         {"!(3-3)", 1},
        {"1 < 2 = 1", 1}, {"4 - 2 - 1", 1}, {"16 / 4 / 2", 2},    {"7 % 3", 1},
        {"-7 / 2", -3},   {"-7 % 3", -1},   {"%101", 5},          {"0x1F", 31},
        {"0X1f", 31},     {"010", 8},       {"+5 - -3", 8},       {"1 | 0 & 0", 1},
        {"1 ^ 1", 0},     {"1 ^ 0", 1},     {"3 > 2 & 2 > 3", 0}, {"2 # 3", 1},
        {"((((1))))", 1}, {" \t 9 \n", 9},  {"1 + 2 = 3 | 0", 1}, {"5 & 7", 1},
    };
    for (const auto &c : cases) {
        const outcome out = evaluate(c.formula);
        EXPECT_EQ(out.status, 0u) << c.formula << ": " << out.error;
        EXPECT_EQ(out.result, c.result) << c.formula;
    }
}

TEST(Formula, ClampsOverflowToTheIntegerRange) {
    const struct {
        const char *formula;
        std::int32_t result;
    } cases[] = {
        {"2147483647 + 1", INT_MAX},        {"-2147483648 - 1", INT_MIN},
        {"65536 * 65536", INT_MAX},         {"-65536 * 65536", INT_MIN},
        {"-2147483648 / -1", INT_MAX},      {"-2147483648 % -1", 0},
        {"2147483647 * 2 - 2147483647", 0},
    };
    for (const auto &c : cases) {
        const outcome out = evaluate(c.formula);
        EXPECT_EQ(out.status, 0u) << c.formula;
        EXPECT_EQ(out.result, c.result) << c.formula;
    }
}

TEST(Formula, ReportsEveryFailureWithItsStatusAndText) {
    const struct {
        const char *formula;
        cv_status status;
        const char *error;
    } cases[] = {
        {"", 22, "Empty formula"},
        {"   ", 22, "Empty formula"},
        {"()", 22, "Empty formula"},
        {"1 +", 22, "Formula ends with operator \"+\".  Missing value."},
        {"1 + ", 22, "Formula ends with operator \"+\".  Missing value."},
        {"(1 + 2", 22, "Unmatched parenthesis"},
        {"3 / 0", 122, "Divide by zero detected"},
        {"3 % (1 - 1)", 122, "Modulo by zero detected"},
        {"1 == 1", 22, "Unrecognized character in formula: ="},
        {"1 2", 22, "Unrecognized operator: \"2\" (0x32)"},
        {"1 ) 2", 22, "Unrecognized operator: \")\" (0x29)"},
        {"@", 22, "Unrecognized character in formula: @"},
        {"99999999999", 122, "Invalid numeric: 99999999999"},
        {"1 + 0x", 22, "Invalid numeric: 0x"},
        {"cookie", 22, "Function cookie has no parameter"},
        {"cookie = ", 22, "Function cookie has no parameter"},
        {"cookie\"x\"", 22,
         "Inappropriate function parameter delimiter: \".  Should be (), {}, [] or <>"},
        {"cookie x", 22, "Unrecognized function parameter delimiter: x"},
        {"cookie==x", 22, "Unrecognized function parameter delimiter: ="},
        {"cookie(x", 22, "Unterminated parameter for function cookie"},
        {"cookie=\"x", 22, "Unterminated parameter for function cookie"},
        {"cookie{a{b}", 22, "Unterminated parameter for function cookie"},
        {"nosuch(x)", 2, "Function nosuch() not found"},
        {"cookie(x)", 2, "No cookie supplied to compare to"},
    };
    for (const auto &c : cases) {
        const outcome out = evaluate(c.formula);
        EXPECT_EQ(out.status, c.status) << c.formula;
        EXPECT_EQ(out.error, c.error) << c.formula;
        EXPECT_EQ(out.result, 0) << c.formula;
    }
}

TEST(Formula, LogsItsOwnFailuresButNotAMissingValue) {
    const std::string mark = cv_test_log_capture::mark();
    (void)evaluate("1 +");
    (void)evaluate("2 % 0");
    (void)evaluate("cookie(x)");
    const std::string log = cv_test_log_capture::since(mark);
    EXPECT_NE(log.find("ERR UAC failed to apply fitness rule: Formula ends with operator"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("LOG Formula parser: Modulo by zero detected"), std::string::npos) << log;
    EXPECT_EQ(log.find("No cookie supplied"), std::string::npos) << log;
}

TEST(Formula, RefusesTooLongNamesAndArgumentsAndDeepNesting) {
    test_variables variables{{"classes", "x"}};
    const std::string name_255(255, 'a');
    EXPECT_EQ(evaluate(name_255 + "(1)").status, 2u);
    EXPECT_EQ(evaluate(name_255 + "a(1)").status, 22u);

    const std::string argument_1023(1023, 'x');
    EXPECT_EQ(evaluate("classes(" + argument_1023 + ")", variables.tree()).status, 0u);
    const outcome long_argument = evaluate("classes(" + argument_1023 + "x)", variables.tree());
    EXPECT_EQ(long_argument.status, 22u);
    EXPECT_EQ(long_argument.error, "Parameter of function classes longer than 1023 characters");

    const auto nested = [](std::size_t depth) {
        return std::string(depth, '(') + "7" + std::string(depth, ')');
    };
    EXPECT_EQ(evaluate(nested(CV_UAC_FORMULA_MAX_DEPTH)).result, 7);
    EXPECT_EQ(evaluate(nested(CV_UAC_FORMULA_MAX_DEPTH + 1)).status, 22u);
    EXPECT_EQ(evaluate(nested(100000)).status, 22u);
}

TEST(Formula, CallsFunctionsWithEveryDelimiter) {
    test_variables variables{{"cookie", "abcdef"}, {"classes", "gold"}};
    const struct {
        const char *formula;
        std::int32_t result;
    } cases[] = {
        {"cookie(abc*)", 1},
        {"cookie{x|abc*}", 1},
        {"cookie[zzz]", 0},
        {"cookie<abc*>", 1},
        {"cookie = \"abc*\"", 1},
        {"cookie='abc*'", 1},
        {"cookie=#zzz#", 0},
        {"cookie=$*def$", 1},
        {"cookie(  abc*  )", 1},
        {"cookie((abc*))", 0},
        {"cookie{a{b}c}", 0},
        {"!cookie(zzz)", 1},
        {"cookie(a*) & classes(silver;g*)", 1},
        {"cookie(a*)+cookie(*f)+1", 3},
    };
    for (const auto &c : cases) {
        const outcome out = evaluate(c.formula, variables.tree());
        EXPECT_EQ(out.status, 0u) << c.formula << ": " << out.error;
        EXPECT_EQ(out.result, c.result) << c.formula;
    }
}

TEST(Formula, NullFormulaLeavesTheResultAlone) {
    std::int32_t result = 42;
    EXPECT_EQ(evaluate_formula(nullptr, &result, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(evaluate_formula("1", nullptr, nullptr, nullptr, nullptr, nullptr), 22u);
}

}  // namespace
