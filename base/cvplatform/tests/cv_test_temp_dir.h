// Test support: a fresh temporary directory, removed with everything in it.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class temp_dir {
public:
    temp_dir() {
        char pattern[] = "/tmp/cv_platform_test.XXXXXX";
        if (const char *made = ::mkdtemp(pattern)) path_ = made;
    }
    ~temp_dir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    temp_dir(const temp_dir &) = delete;
    temp_dir &operator=(const temp_dir &) = delete;

    /* The directory's path; empty when it could not be made. */
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
