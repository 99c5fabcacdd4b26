// Test support: sends the process-wide log to a file in a private temporary
// directory, so that tests can check the messages the library writes.
//
// The log collapses a line identical to the one before it, so every check
// starts with a mark (a unique line) and reads only what follows it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "cvplatform/cv_log.h"

class cv_test_log_capture : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/cv_log_capture_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/capture.log";
        ASSERT_EQ(cv_log_init(1, path_.c_str()), 0u);
    }
    void TearDown() override {
        cv_log_close();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }

    /* Writes a unique line and returns it; pass it to since(). */
    static std::string mark() {
        static int serial = 0;
        std::string line = "--- test mark " + std::to_string(++serial) + " ---";
        cv_log_info("%s", line.c_str());
        return line;
    }

    /* The log's text after the line `marker`. */
    static std::string since(const std::string &marker) {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string all = text.str();
        const std::size_t at = all.rfind(marker);
        return at == std::string::npos ? std::string() : all.substr(at + marker.size());
    }

    /* How often `needle` occurs in `haystack`. */
    static int count(const std::string &haystack, const std::string &needle) {
        int n = 0;
        for (std::size_t at = haystack.find(needle); at != std::string::npos;
             at = haystack.find(needle, at + needle.size()))
            ++n;
        return n;
    }

private:
    static inline std::string dir_;
    static inline std::string path_;
};

/* Registers the capture before main runs the tests. */
#define CV_TEST_LOG_CAPTURE()                                                           \
    [[maybe_unused]] static ::testing::Environment *const cv_test_log_capture_env =     \
        ::testing::AddGlobalTestEnvironment(new cv_test_log_capture)
