// Canonical paths and the install locations derived from the executable.
//
// Every path of the system is UTF-8 with "/" as the only separator.  The
// canonical form resolves "." and ".." lexically against the path's root (a
// drive "C:/", "/", or a share "//host/share/"), collapses runs of
// separators and never ends in "/" unless it is a bare root.  A ".." that
// would climb above a root is dropped; in a relative path it is kept, so
// "../../x" keeps its meaning.  A host or share of "." or ".." is no share:
// the path is rooted at "/".  The form is stable: canonicalising a canonical
// path gives it back unchanged.  URLs and "cvtp://" paths are never
// rewritten.
//
// The install locations (product root, configuration directory, the search
// for "corvane.conf") are derived from an executable path passed in, so the
// same rules serve the running program and any tree a caller names.
#include "cvplatform/cv_path.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "cv_path_internal.h"
#include "cvplatform/cv_file.h"
#include "cvplatform/cv_log.h"
#include "cvplatform/cv_str.h"

namespace {

constexpr std::string_view kCvtpPrefix = "cvtp://";
constexpr const char *kProductMarker = "product-info.mf";
constexpr const char *kConfFileName = "corvane.conf";
constexpr const char *kEtcDir = "etc";

constexpr bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_sep(char c) { return c == '/' || c == '\\'; }
constexpr bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

const char *skip_blanks(const char *p) {
    while (is_blank(*p)) ++p;
    return p;
}

// A buffer of `n` bytes: on the stack for the usual path sizes, on the heap
// only for callers that pass larger destinations.  data() is null when the
// heap allocation failed.
class scratch_buffer {
public:
    explicit scratch_buffer(std::size_t n) : size_(n) {
        if (n > local_.size()) heap_.reset(new (std::nothrow) char[n]);
    }
    char *data() { return size_ > local_.size() ? heap_.get() : local_.data(); }
    std::size_t size() const { return size_; }

private:
    std::size_t size_;
    std::array<char, CV_PATH_SIZE> local_;
    std::unique_ptr<char[]> heap_;
};

// Appends to a fixed destination, always leaving room for the terminator.
class path_writer {
public:
    path_writer(char *dst, std::size_t size) : dst_(dst), size_(size) {}
    bool put(char c) {
        if (length_ + 1 >= size_) return false;
        dst_[length_++] = c;
        return true;
    }
    bool put(std::string_view s) {
        if (s.size() >= size_ - length_) return false;
        std::memcpy(dst_ + length_, s.data(), s.size());
        length_ += s.size();
        return true;
    }
    std::size_t length() const { return length_; }
    // Drops the last component written after `floor`, with its separator.
    void drop_last_component(std::size_t floor) {
        std::size_t p = length_;
        while (p > floor && dst_[p - 1] != '/') --p;
        length_ = p > floor ? p - 1 : floor;
    }
    void finish() { dst_[length_] = '\0'; }

private:
    char *dst_;
    std::size_t size_;
    std::size_t length_ = 0;
};

bool ranges_overlap(const char *a, std::size_t a_len, const char *b, std::size_t b_len) {
    const auto a0 = reinterpret_cast<std::uintptr_t>(a);
    const auto b0 = reinterpret_cast<std::uintptr_t>(b);
    return a0 < b0 + b_len && b0 < a0 + a_len;
}

std::size_t skip_seps(std::string_view s, std::size_t i) {
    while (i < s.size() && is_sep(s[i])) ++i;
    return i;
}

std::size_t component_end(std::string_view s, std::size_t i) {
    while (i < s.size() && !is_sep(s[i])) ++i;
    return i;
}

// The UNC form needs "//", two more characters and a further separator, so
// that "//x" alone stays an absolute path.
bool looks_like_unc(std::string_view s) {
    return s.size() >= 4 && is_sep(s[0]) && is_sep(s[1]) &&
           s.substr(3).find_first_of("/\\") != std::string_view::npos;
}

constexpr bool is_dot_name(std::string_view name) { return name == "." || name == ".."; }

// The root "//host/share" at the start of `s`.
struct unc_root {
    std::string_view host;
    std::string_view share;
    std::size_t end;  // offset just after the share
};

// The UNC root of `s`, when it has one.  A host or share of "." or ".." names
// no share: such a path is rooted at "/" instead (Linux reads a leading "//"
// as "/"), so that its dots are resolved like any others and cannot climb
// out of a directory behind a root that only looks canonical.
bool find_unc_root(std::string_view s, unc_root *root) {
    if (!looks_like_unc(s)) return false;
    const std::size_t host_start = skip_seps(s, 0);
    const std::size_t host_end = component_end(s, host_start);
    const std::size_t share_start = skip_seps(s, host_end);
    const std::size_t share_end = component_end(s, share_start);
    *root = {s.substr(host_start, host_end - host_start),
             s.substr(share_start, share_end - share_start), share_end};
    return !is_dot_name(root->host) && !is_dot_name(root->share);
}

// A relative result whose first component reads as a drive ("c:" or "c:x")
// would be rooted by the next canonicalisation; "./" in front keeps it
// relative, and the form stable.
bool starts_like_a_drive(std::string_view s) {
    return s.size() >= 2 && is_letter(s[0]) && s[1] == ':';
}

// The canonical walk over `s` (not aliasing `dst`).  False when the result
// does not fit or the UNC share is missing.
bool canonicalize_into(std::string_view s, char *dst, std::size_t size) {
    path_writer out(dst, size);
    std::size_t i = 0;
    bool rooted = true;
    unc_root unc;
    if (find_unc_root(s, &unc)) {
        if (unc.host.empty() || unc.share.empty()) return false;
        if (!out.put("//") || !out.put(unc.host) || !out.put('/') || !out.put(unc.share) ||
            !out.put('/'))
            return false;
        i = unc.end;
    } else if (s.size() >= 2 && is_letter(s[0]) && s[1] == ':') {
        if (!out.put(s[0]) || !out.put(":/")) return false;
        i = 2;
    } else if (!s.empty() && is_sep(s[0])) {
        if (!out.put('/')) return false;
        i = 1;
    } else {
        rooted = false;
    }

    const std::size_t root_length = out.length();
    std::size_t removable = 0;  // kept components that a ".." may remove
    for (i = skip_seps(s, i); i < s.size(); i = skip_seps(s, i)) {
        const std::size_t end = component_end(s, i);
        const std::string_view component = s.substr(i, end - i);
        i = end;
        if (component == ".") continue;
        if (component == "..") {
            if (removable > 0) {
                out.drop_last_component(root_length);
                --removable;
                continue;
            }
            if (rooted) continue;
        } else {
            ++removable;
        }
        if (out.length() > root_length && !out.put('/')) return false;
        if (!out.put(component)) return false;
    }
    if (out.length() == 0 && !out.put('.')) return false;
    out.finish();
    if (!rooted && starts_like_a_drive(std::string_view(dst, out.length()))) {
        if (out.length() + 2 >= size) return false;
        std::memmove(dst + 2, dst, out.length() + 1);
        dst[0] = '.';
        dst[1] = '/';
    }
    return true;
}

bool ends_with_slash(std::string_view s) { return !s.empty() && s.back() == '/'; }

// dir + "/" + name (name's leading slashes dropped) into `buf`, the raw text
// that cv_path_join canonicalises.
bool concatenate(std::string_view dir, std::string_view name, char *buf, std::size_t size) {
    while (!name.empty() && name.front() == '/') name.remove_prefix(1);
    path_writer out(buf, size);
    if (!out.put(dir)) return false;
    if (!ends_with_slash(dir) && !out.put('/')) return false;
    if (!out.put(name)) return false;
    out.finish();
    return true;
}

int finish_length(char *dst) { return static_cast<int>(std::strlen(dst)); }

int fail_empty(char *dst, std::size_t size) {
    if (dst != nullptr && size > 0) dst[0] = '\0';
    return -1;
}

// The candidate directories of the conf-file search, relative to the
// executable's directory, in search order.
constexpr std::array<const char *, 6> kConfSearchSuffixes = {
    "", "etc", "..", "../etc", "../..", "../../etc",
};

// The candidates of the product-root search, in order.
constexpr std::array<const char *, 3> kRootSearchSuffixes = {"", "..", "../.."};

// The candidate directory `exe_dir`/`suffix` into `buf`; the executable's
// own directory is taken as it is, the others canonicalised.
bool candidate_dir(const char *exe_dir, const char *suffix, char *buf, std::size_t size) {
    if (suffix[0] == '\0') return cv_str_copy(buf, exe_dir, size) == CV_OK;
    return cv_path_join(exe_dir, suffix, buf, size) == 0;
}

}  // namespace

std::size_t cv_path_creatable_start(std::string_view path) {
    if (unc_root unc; find_unc_root(path, &unc))
        return static_cast<std::size_t>(unc.share.data() - path.data());
    if (path.size() >= 2 && is_letter(path[0]) && path[1] == ':') return skip_seps(path, 2);
    if (!path.empty() && is_sep(path[0])) return skip_seps(path, 0);
    return 0;
}

int cv_path_canonicalize(const char *src, char *dst, std::size_t size) {
    if (dst == nullptr || size == 0) return -1;
    if (src == nullptr || src[0] == '\0') {
        dst[0] = '\0';
        return 0;
    }
    // A source that does not fit the destination as it stands is refused
    // before anything is written, so `src` may be `dst` itself.
    const std::size_t length = ::strnlen(src, size);
    if (length == size) return fail_empty(dst, size);
    const std::string_view source(src, length);
    if (source.find('\n') != std::string_view::npos) return fail_empty(dst, size);
    if (source.starts_with(kCvtpPrefix) || cv_path_is_url(src)) {
        std::memmove(dst, src, length + 1);
        return 0;
    }

    scratch_buffer copy(ranges_overlap(src, length + 1, dst, size) ? length + 1 : 0);
    std::string_view input = source;
    if (copy.size() > 0) {
        if (copy.data() == nullptr) return fail_empty(dst, size);
        std::memcpy(copy.data(), src, length + 1);
        input = std::string_view(copy.data(), length);
    }
    return canonicalize_into(input, dst, size) ? 0 : fail_empty(dst, size);
}

char *cv_path_build_canonical_path(char *dst, std::size_t size, cv_status *status,
                                   const char *fmt, ...) {
    cv_status ignored = CV_OK;
    cv_status &result = status != nullptr ? *status : ignored;
    if (dst == nullptr) {
        result = CV_E_INVALID;
        cv_log_error("cv_path_build_canonical_path: Null buffer");
        return nullptr;
    }
    if (fmt == nullptr) {
        result = CV_E_INVALID;
        return nullptr;
    }
    // One byte more than the limit, so that a text of exactly CV_PATH_SIZE
    // bytes is told apart from one that fits, whichever way the bounded print
    // reports truncation.
    std::array<char, CV_PATH_SIZE + 1> text;
    va_list args;
    va_start(args, fmt);
    const int n = cv_vsnprintf(text.data(), text.size(), fmt, args);
    va_end(args);
    if (n < 0) {
        result = CV_E_INVALID;
        return nullptr;
    }
    if (static_cast<std::size_t>(n) >= CV_PATH_SIZE) {
        result = CV_E_BUFFER_TOO_SMALL;
        return nullptr;
    }
    if (cv_path_canonicalize(text.data(), dst, size) != 0) {
        result = CV_E_INVALID;
        return nullptr;
    }
    result = CV_OK;
    return dst;
}

int cv_path_join(const char *dir, const char *name, char *dst, std::size_t size) {
    if (dir == nullptr || name == nullptr || dst == nullptr || size == 0) return -1;
    const std::string_view d(dir);
    const bool name_relative = cv_path_is_relative(name) == 1;
    if (d.empty() || (d == "." && name_relative) || (d == "/" && !name_relative))
        return cv_path_canonicalize(name, dst, size);

    // Built aside first: `dst` may be the very buffer that holds `name`.
    scratch_buffer joined(size);
    if (joined.data() == nullptr) return fail_empty(dst, size);
    if (!concatenate(d, name, joined.data(), joined.size())) return fail_empty(dst, size);
    return cv_path_canonicalize(joined.data(), dst, size);
}

cv_status cv_path_combine(const char *first, const char *second, char *dst, std::size_t size) {
    if (first == nullptr || second == nullptr) return CV_E_INVALID;
    if (size == 0) return CV_OK;
    if (dst == nullptr) return CV_E_INVALID;
    const std::string_view a(first);
    const std::string_view b(second);
    const bool slash = !a.empty() && !ends_with_slash(a);
    if (a.size() + (slash ? 1 : 0) + b.size() + 1 > size) {
        dst[0] = '\0';
        return CV_E_BUFFER_SPACE;
    }
    // memmove: the caller may pass one of the inputs as the destination.
    std::memmove(dst + a.size() + (slash ? 1 : 0), b.data(), b.size());
    dst[a.size() + (slash ? 1 : 0) + b.size()] = '\0';
    std::memmove(dst, a.data(), a.size());
    if (slash) dst[a.size()] = '/';
    return CV_OK;
}

int cv_path_get_parent(const char *path, char *dst, std::size_t size) {
    if (path == nullptr || path[0] == '\0' || dst == nullptr || size == 0)
        return fail_empty(dst, size);
    const std::string_view p(path);
    const std::string_view up = ends_with_slash(p) ? ".." : "/..";
    scratch_buffer text(p.size() + up.size() + 1);
    if (text.data() == nullptr) return fail_empty(dst, size);
    std::memcpy(text.data(), p.data(), p.size());
    std::memcpy(text.data() + p.size(), up.data(), up.size());
    text.data()[p.size() + up.size()] = '\0';
    if (cv_path_canonicalize(text.data(), dst, size) != 0) return -1;
    return finish_length(dst);
}

int cv_path_get_exe_dir(char *dst, std::size_t size) {
    std::array<char, CV_PATH_SIZE> exe;
    if (cv_path_get_exe_path(exe.data(), exe.size()) < 0) return fail_empty(dst, size);
    return cv_path_get_parent(exe.data(), dst, size);
}

int cv_path_get_product_root(const char *exe_path, char *dst, std::size_t size) {
    if (dst == nullptr || size == 0) return -1;
    std::array<char, CV_PATH_SIZE> exe_dir;
    if (exe_path == nullptr || cv_path_get_parent(exe_path, exe_dir.data(), exe_dir.size()) < 0)
        return fail_empty(dst, size);

    std::array<char, CV_PATH_SIZE> candidate;
    scratch_buffer marker(size);
    if (marker.data() == nullptr) return fail_empty(dst, size);
    for (const char *suffix : kRootSearchSuffixes) {
        if (!candidate_dir(exe_dir.data(), suffix, candidate.data(), candidate.size()))
            return fail_empty(dst, size);
        if (cv_path_join(candidate.data(), kProductMarker, marker.data(), marker.size()) != 0)
            return fail_empty(dst, size);
        if (cv_file_exists(marker.data()) == 1) {
            if (cv_str_copy(dst, candidate.data(), size) != CV_OK) return fail_empty(dst, size);
            return finish_length(dst);
        }
    }
    // No marker anywhere: the installation is laid out as <root>/bin.
    if (cv_path_join(exe_dir.data(), "..", dst, size) != 0) return -1;
    return finish_length(dst);
}

int cv_path_find_conf_file(const char *name, const char *exe_path, char *dst, std::size_t size) {
    if (dst == nullptr || size == 0) return -1;
    dst[0] = '\0';
    if (name == nullptr || name[0] == '\0' || exe_path == nullptr) return -1;
    std::array<char, CV_PATH_SIZE> exe_dir;
    if (cv_path_get_parent(exe_path, exe_dir.data(), exe_dir.size()) < 0) return -1;

    std::array<char, CV_PATH_SIZE> candidate;
    scratch_buffer path(size);
    if (path.data() == nullptr) return -1;
    for (const char *suffix : kConfSearchSuffixes) {
        if (!candidate_dir(exe_dir.data(), suffix, candidate.data(), candidate.size())) return -1;
        if (cv_path_join(candidate.data(), name, path.data(), path.size()) != 0) return -1;
        if (cv_file_exists(path.data()) == 1) {
            std::memcpy(dst, path.data(), std::strlen(path.data()) + 1);
            return finish_length(dst);
        }
    }
    return -1;
}

int cv_path_get_conf_dir(const char *exe_path, char *dst, std::size_t size) {
    if (dst == nullptr || size == 0) return -1;
    std::array<char, CV_PATH_SIZE> found;
    if (cv_path_find_conf_file(kConfFileName, exe_path, found.data(), found.size()) >= 0)
        return cv_path_get_parent(found.data(), dst, size);

    // Joined rather than appended, so that a root of "/" gives "/etc" and not
    // the share-like "//etc".
    std::array<char, CV_PATH_SIZE> root;
    if (cv_path_get_product_root(exe_path, root.data(), root.size()) < 0)
        return fail_empty(dst, size);
    if (cv_path_join(root.data(), kEtcDir, dst, size) != 0) return -1;
    return finish_length(dst);
}

int cv_path_is_url(const char *path) {
    if (path == nullptr || !is_letter(path[0])) return 0;
    std::size_t i = 1;
    while (is_letter(path[i]) || is_digit(path[i]) || path[i] == '+' || path[i] == '-' ||
           path[i] == '.')
        ++i;
    if (i < 2 || std::strncmp(path + i, "://", 3) != 0) return 0;
    return path[i + 3] != '\0' ? 1 : 0;
}

int cv_path_is_relative(const char *path) {
    if (path == nullptr) return 1;
    if (cv_path_is_url(path)) return 0;
    const char *p = skip_blanks(path);
    if (is_sep(p[0])) return 0;
    if (is_letter(p[0]) && p[1] == ':') return is_sep(p[2]) ? 0 : 1;
    return 1;
}

int cv_path_has_drive(const char *path) {
    if (path == nullptr) return 0;
    const char *p = skip_blanks(path);
    return is_letter(p[0]) && p[1] == ':' ? 1 : 0;
}

void cv_path_normalize_slashes(char *path) {
    if (path == nullptr) return;
    for (char *p = path; *p != '\0'; ++p)
        if (*p == '\\') *p = '/';
}

cv_status cv_path_make_rooted(char *path, std::size_t size) {
    if (path == nullptr || size == 0) return CV_E_INVALID;
    std::size_t length = ::strnlen(path, size);
    if (length == size) return CV_E_INVALID;  // not terminated within its buffer

    const std::size_t blanks = static_cast<std::size_t>(skip_blanks(path) - path);
    std::memmove(path, path + blanks, length - blanks + 1);
    length -= blanks;
    cv_path_normalize_slashes(path);

    if (is_letter(path[0]) && path[1] == ':') return path[2] == '/' ? CV_OK : CV_E_INVALID;
    if (path[0] == '/') return CV_OK;
    if (length + 2 > size) return CV_E_NAME_TOO_LONG;
    std::memmove(path + 1, path, length + 1);
    path[0] = '/';
    return CV_OK;
}
