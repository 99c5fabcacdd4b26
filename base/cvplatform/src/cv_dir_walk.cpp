// The recursive, depth-first directory walk over the one-level listings.
//
// A walk holds a stack of open listings, the innermost on top.  Each entry is
// reported with its full path; a directory is reported before its entries,
// and the end of every directory's entries is reported as ".." (type 3), so a
// caller can keep its own depth.  Symbolic links to files are reported as the
// files they name; a link to a directory is reported as "other" and not
// entered, so a link cycle cannot make the walk endless.
//
// The path of the innermost listing is kept in one buffer shared by all
// levels; each level remembers its length, so depth costs no path copies.
//
// A name read from a listing is one entry of that directory, whatever it
// holds: an entry is examined and entered under its open listing, never by
// its path, and its reported path is the listing's path and the name joined
// as they are.  A directory named "a\.." or "..\..\etc" is thus only itself,
// and the walk can neither leave its root nor come back to a directory it
// is in; it ends once every directory below the root has been listed.
#include <array>
#include <cstring>
#include <new>
#include <string_view>

#include "cv_file_internal.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_path.h"
#include "cvplatform/cv_str.h"

namespace {

struct walk_level {
    cv_dir *listing;
    std::size_t path_length;  // of the listing's path in cv_dir_walk::path
    walk_level *outer;
};

constexpr std::string_view kUp = "..";

}  // namespace

struct cv_dir_walk {
    bool single_file;     // a walk of one regular file
    bool single_done;     // ... that has been reported
    walk_level *innermost;
    std::array<char, CV_PATH_SIZE> path;  // the innermost listing's path
};

namespace {

void pop_level(cv_dir_walk &w) {
    walk_level *level = w.innermost;
    w.innermost = level->outer;
    (void)cv_dir_close(&level->listing);
    delete level;
    if (w.innermost != nullptr) w.path[w.innermost->path_length] = '\0';
}

// Makes `listing`, the listing of `dir` (a path of at most the path buffer's
// size), the new innermost level; on failure the listing is closed.
cv_status push_level(cv_dir_walk &w, cv_dir *listing, const char *dir) {
    auto *level = new (std::nothrow) walk_level{listing, 0, w.innermost};
    if (level == nullptr) {
        (void)cv_dir_close(&listing);
        return CV_E_NO_MEMORY;
    }
    const std::size_t length = std::strlen(dir);
    if (dir != w.path.data()) std::memmove(w.path.data(), dir, length + 1);
    level->path_length = length;
    w.innermost = level;
    return CV_OK;
}

// `listing`/`name` into `out`, with no doubled "/" after a root such as "/".
cv_status entry_path(std::string_view listing, const char *name, char *out, std::size_t size) {
    std::size_t cursor = 0;
    out[0] = '\0';
    cv_status st = cv_str_to(out, listing.data(), listing.size(), size, &cursor);
    if (st == CV_OK && (listing.empty() || listing.back() != '/'))
        st = cv_str_append(out, "/", size, &cursor);
    if (st == CV_OK) st = cv_str_append(out, name, size, &cursor);
    if (st != CV_OK) {
        out[0] = '\0';
        return CV_E_BUFFER_SPACE;
    }
    return CV_OK;
}

// The walk type of entry `name` of `listing`; `*gone` when it vanished
// since it was listed.
std::uint32_t entry_type(cv_dir *listing, const char *name, bool *gone) {
    *gone = false;
    cv_file_status target{};
    const cv_status st = cv_dir_stat_entry(listing, name, &target, 0);
    if (st != CV_OK) {
        *gone = st == CV_E_FILE_NOT_FOUND &&
                cv_dir_stat_entry(listing, name, &target, CV_FILE_STAT_NO_FOLLOW) != CV_OK;
        return CV_WALK_OTHER;
    }
    if (target.type == CV_FILE_TYPE_REGULAR) return CV_WALK_FILE;
    if (target.type != CV_FILE_TYPE_DIRECTORY) return CV_WALK_OTHER;
    cv_file_status self{};
    if (cv_dir_stat_entry(listing, name, &self, CV_FILE_STAT_NO_FOLLOW) != CV_OK)
        return CV_WALK_OTHER;
    return self.type == CV_FILE_TYPE_DIRECTORY ? CV_WALK_DIRECTORY : CV_WALK_OTHER;
}

// Opens directory entry `name` of the innermost listing, whose full path is
// `path`, as the new innermost level.
cv_status enter(cv_dir_walk &w, const char *name, const char *path) {
    if (std::strlen(path) + CV_DIR_LISTING_SUFFIX > CV_DIR_MAX_LISTING_PATH)
        return CV_E_BUFFER_TOO_SMALL;
    cv_dir *listing = nullptr;
    if (const cv_status st = cv_dir_open_entry(w.innermost->listing, name, &listing); st != CV_OK)
        return st;
    return push_level(w, listing, path);
}

void free_walk(cv_dir_walk *w) {
    while (w->innermost != nullptr) pop_level(*w);
    delete w;
}

}  // namespace

cv_status cv_dir_walk_open(cv_dir_walk **walk, const char *path) {
    if (walk == nullptr) return CV_E_INVALID;
    *walk = nullptr;
    if (path == nullptr) return CV_E_INVALID;

    auto *w = new (std::nothrow) cv_dir_walk{};
    if (w == nullptr) return CV_E_NO_MEMORY;
    if (cv_path_canonicalize(path, w->path.data(), w->path.size()) != 0) {
        free_walk(w);
        return CV_E_INVALID;
    }
    cv_file_status status{};
    cv_status st = cv_file_stat_path(w->path.data(), &status, 0);
    if (st == CV_OK) {
        if (status.type == CV_FILE_TYPE_REGULAR) {
            w->single_file = true;
        } else if (status.type == CV_FILE_TYPE_DIRECTORY) {
            cv_dir *listing = nullptr;
            st = cv_dir_open(w->path.data(), &listing);
            if (st == CV_OK) st = push_level(*w, listing, w->path.data());
        } else {
            st = CV_E_NOT_A_DIRECTORY;
        }
    }
    if (st != CV_OK) {
        free_walk(w);
        return st;
    }
    *walk = w;
    return CV_OK;
}

cv_status cv_dir_walk_next(cv_dir_walk *walk, char *name, std::size_t size, std::uint32_t *type) {
    if (walk == nullptr || name == nullptr || size == 0 || type == nullptr) return CV_E_INVALID;
    name[0] = '\0';
    if (walk->single_file) {
        if (walk->single_done) return CV_E_END_REACHED;
        if (const cv_status st = cv_str_copy(name, walk->path.data(), size); st != CV_OK) {
            name[0] = '\0';
            return st;
        }
        walk->single_done = true;
        *type = CV_WALK_FILE;
        return CV_OK;
    }

    std::array<char, CV_PATH_SIZE> entry;
    std::array<char, CV_PATH_SIZE> full;
    while (walk->innermost != nullptr) {
        const cv_status st = cv_dir_read(walk->innermost->listing, entry.data(), entry.size());
        if (st == CV_E_END_REACHED) {
            pop_level(*walk);
            if (const cv_status up = cv_str_copy(name, kUp.data(), size); up != CV_OK) {
                name[0] = '\0';
                return up;
            }
            *type = CV_WALK_UP;
            return CV_OK;
        }
        // A read error is reported; the listing then reads as ended, so the
        // next call closes it with "..".
        if (st != CV_OK) return st;
        const std::string_view entry_name(entry.data());
        if (entry_name == "." || entry_name == kUp) continue;

        const std::string_view listing(walk->path.data(), walk->innermost->path_length);
        if (const cv_status built = entry_path(listing, entry.data(), full.data(), full.size());
            built != CV_OK)
            return built;
        bool gone = false;
        const std::uint32_t entry_kind = entry_type(walk->innermost->listing, entry.data(), &gone);
        if (gone) continue;
        if (cv_str_copy(name, full.data(), size) != CV_OK) {
            name[0] = '\0';
            return CV_E_BUFFER_SPACE;
        }
        if (entry_kind == CV_WALK_DIRECTORY) {
            // A directory that cannot be listed is reported as the failure; the
            // walk goes on with its next sibling.
            if (const cv_status opened = enter(*walk, entry.data(), full.data()); opened != CV_OK)
                return opened;
        }
        *type = entry_kind;
        return CV_OK;
    }
    return CV_E_END_REACHED;
}

cv_status cv_dir_walk_close(cv_dir_walk **walk) {
    if (walk == nullptr) return CV_E_INVALID;
    if (*walk != nullptr) free_walk(*walk);
    *walk = nullptr;
    return CV_OK;
}
