// Group membership of an account on POSIX, through NSS.
//
// getpwnam_r gives the account's primary group id, getgrouplist every group
// id the account belongs to (the primary one included), and getgrgid_r the
// name of each.  Every call is made with room that grows until the answer
// fits: getgrouplist reports how many ids there are when the array is too
// small, and getgrgid_r says ERANGE when a record (a directory group with
// many members) does not fit its buffer.  A name is therefore always copied
// whole.
#include "cvplatform/cv_account.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

/* Room for group ids at the first call; the look-up grows it as told. */
constexpr int kFirstGroupGuess = 32;

/* Sizes of the record buffers: the first try, and the largest tried. */
constexpr std::size_t kFirstRecordBuffer = 1024;
constexpr std::size_t kMaxRecordBuffer = std::size_t{1} << 26;

struct free_deleter {
    void operator()(void *memory) const { std::free(memory); }
};
template <typename T>
using malloc_ptr = std::unique_ptr<T, free_deleter>;

/* The error of a *_r look-up: its result, or errno for the modules (and
 * preloaded wrappers) that return -1 and set errno as most calls do. */
int error_of(int result) {
    if (result != -1) return result;
    return errno != 0 ? errno : EIO;
}

/* The primary group id of `user`.  0; 2 unknown; 8; 122; the error. */
cv_status primary_group_of(const char *user, gid_t *gid) {
    for (std::size_t size = kFirstRecordBuffer; size <= kMaxRecordBuffer; size *= 2) {
        malloc_ptr<char> buffer(static_cast<char *>(std::malloc(size)));
        if (!buffer) return CV_E_NO_MEMORY;
        errno = 0;
        passwd record{};
        passwd *found = nullptr;
        const int rc = error_of(::getpwnam_r(user, &record, buffer.get(), size, &found));
        if (rc == ERANGE) continue;
        // Some modules report an unknown name as ENOENT rather than as no
        // record.
        if (rc == ENOENT || (rc == 0 && !found)) return CV_E_FILE_NOT_FOUND;
        if (rc != 0) return static_cast<cv_status>(rc);
        *gid = found->pw_gid;
        return CV_OK;
    }
    return CV_E_BUFFER_TOO_SMALL;
}

/* Every group id of `user` into `*ids` (malloc) and `*count`. */
cv_status group_ids_of(const char *user, gid_t primary, malloc_ptr<gid_t> *ids, int *count) {
    int room = kFirstGroupGuess;
    for (;;) {
        ids->reset(static_cast<gid_t *>(std::malloc(static_cast<std::size_t>(room) * sizeof(gid_t))));
        if (!*ids) return CV_E_NO_MEMORY;
        int wanted = room;
        if (::getgrouplist(user, primary, ids->get(), &wanted) >= 0) {
            *count = wanted;
            return CV_OK;
        }
        // Too small: `wanted` is the number needed (some implementations
        // leave it as it was; doubling covers them).
        const int next = wanted > room ? wanted : (room > std::numeric_limits<int>::max() / 2
                                                        ? 0
                                                        : room * 2);
        if (next <= room) return CV_E_BUFFER_TOO_SMALL;
        room = next;
    }
}

/* Terminated names one after the other in a block that grows by doubling
 * and always keeps a byte for the empty name that ends it. */
class name_block {
public:
    ~name_block() { std::free(names_); }

    bool append(const char *name) {
        const std::size_t length = std::strlen(name) + 1;
        // One byte always stays for the empty name that ends the block.
        if (length > std::numeric_limits<std::size_t>::max() - used_ - 1) return false;
        if (used_ + length + 1 > capacity_) {
            std::size_t grown = capacity_ ? capacity_ : 256;
            while (grown < used_ + length + 1)
                grown = grown > std::numeric_limits<std::size_t>::max() / 2 ? used_ + length + 1
                                                                           : grown * 2;
            char *moved = static_cast<char *>(std::realloc(names_, grown));
            if (!moved) return false;
            names_ = moved;
            capacity_ = grown;
        }
        std::memcpy(names_ + used_, name, length);
        used_ += length;
        ++count_;
        return true;
    }

    /* Hands the block over, ended by the empty name. */
    cv_account_groups release() {
        if (!names_ && !append_end()) return {nullptr, 0};
        names_[used_] = '\0';
        cv_account_groups out{names_, count_};
        names_ = nullptr;
        return out;
    }

private:
    bool append_end() {
        names_ = static_cast<char *>(std::malloc(1));
        capacity_ = names_ ? 1 : 0;
        return names_ != nullptr;
    }

    char *names_ = nullptr;
    std::size_t used_ = 0;
    std::size_t capacity_ = 0;
    std::size_t count_ = 0;
};

/* Appends the name of group `gid` to `block`, when it has one. */
cv_status append_group_name(gid_t gid, name_block &block) {
    for (std::size_t size = kFirstRecordBuffer; size <= kMaxRecordBuffer; size *= 2) {
        malloc_ptr<char> buffer(static_cast<char *>(std::malloc(size)));
        if (!buffer) return CV_E_NO_MEMORY;
        errno = 0;
        group record{};
        group *found = nullptr;
        const int rc = error_of(::getgrgid_r(gid, &record, buffer.get(), size, &found));
        if (rc == ERANGE) continue;
        if (rc == ENOENT || (rc == 0 && (!found || !found->gr_name || !found->gr_name[0])))
            return CV_OK;
        if (rc != 0) return static_cast<cv_status>(rc);
        return block.append(found->gr_name) ? CV_OK : CV_E_NO_MEMORY;
    }
    return CV_E_BUFFER_TOO_SMALL;
}

/* The group ids already listed: the database may give the primary group
 * twice.  A sorted copy of the ids with a mark per id. */
class seen_ids {
public:
    bool init(const gid_t *ids, int count) {
        count_ = static_cast<std::size_t>(count);
        sorted_.reset(static_cast<gid_t *>(std::malloc(count_ * sizeof(gid_t) + 1)));
        marks_.reset(static_cast<bool *>(std::calloc(count_ + 1, sizeof(bool))));
        if (!sorted_ || !marks_) return false;
        std::copy(ids, ids + count_, sorted_.get());
        std::sort(sorted_.get(), sorted_.get() + count_);
        return true;
    }
    /* Marks `gid`; true when it was marked already. */
    bool mark(gid_t gid) {
        const std::size_t at =
            static_cast<std::size_t>(std::lower_bound(sorted_.get(), sorted_.get() + count_, gid) -
                                     sorted_.get());
        const bool before = marks_.get()[at];
        marks_.get()[at] = true;
        return before;
    }

private:
    malloc_ptr<gid_t> sorted_;
    malloc_ptr<bool> marks_;
    std::size_t count_ = 0;
};

}  // namespace

cv_status cv_account_get_groups(const char *user, cv_account_groups *groups) {
    if (!groups) return CV_E_INVALID;
    *groups = {nullptr, 0};
    if (!user || user[0] == '\0') return CV_E_INVALID;

    gid_t primary = 0;
    if (const cv_status st = primary_group_of(user, &primary); st != CV_OK) return st;
    malloc_ptr<gid_t> ids;
    int count = 0;
    if (const cv_status st = group_ids_of(user, primary, &ids, &count); st != CV_OK) return st;
    seen_ids seen;
    if (!seen.init(ids.get(), count)) return CV_E_NO_MEMORY;

    name_block block;
    for (int i = 0; i < count; ++i) {
        const gid_t gid = ids.get()[i];
        if (seen.mark(gid)) continue;
        if (const cv_status st = append_group_name(gid, block); st != CV_OK) return st;
    }
    *groups = block.release();
    return groups->names ? CV_OK : CV_E_NO_MEMORY;
}

void cv_account_groups_free(cv_account_groups *groups) {
    if (!groups) return;
    std::free(groups->names);
    *groups = {nullptr, 0};
}
