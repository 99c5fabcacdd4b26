// Test support: a variable tree filled from a list of name/value pairs that
// releases itself, standing in for the variables of a connection or user.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "cvplatform/cv_containers.h"

class test_variables {
public:
    test_variables(std::initializer_list<std::pair<const char *, const char *>> entries) {
        EXPECT_EQ(cv_btree_create_strings(&tree_), 0u);
        for (const auto &[name, value] : entries) EXPECT_EQ(cv_btree_set(tree_, name, value), 0u);
    }
    ~test_variables() { (void)cv_btree_destroy(tree_, nullptr); }
    test_variables(const test_variables &) = delete;
    test_variables &operator=(const test_variables &) = delete;

    cv_btree *tree() const { return tree_; }

private:
    cv_btree *tree_ = nullptr;
};
