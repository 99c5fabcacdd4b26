// Dynamic libraries: loading a library at run time, finding its functions and
// unloading it.
//
// Group plug-ins are libraries of this kind: files named "*.cveu" in the
// program's folder, loaded through cv_lib_load_trusted, which refuses a
// file that an account other than root and the program's owner could have
// planted or changed, and loads exactly the file it checked.  A library is
// loaded with all its references resolved at once (a library that lacks one
// fails to load instead of failing later in a call) and its symbols are
// kept to itself, so that two plug-ins may define the same names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cvplatform/cv_status.h"

/* A loaded library: the native module handle, null when not loaded. */
using cv_lib_handle = void *;

/* A function found in a library, to be converted to its real type. */
using cv_lib_function = void (*)();

/* Loads the library at `path` into `*lib`.  The path is brought into
 * canonical form first (a path with a slash still names a file, never a
 * search by name: "./x.cveu" stays relative to the working directory); a
 * bare name is searched for as the system searches for libraries.  `*lib`
 * is null on failure.  0; 22 for a null argument, an empty path or a path
 * that cannot be made canonical; for a path with a slash whose file cannot
 * be opened, the system's error (2 for a missing file); otherwise 28679 (a
 * file that is not a library, a library that lacks a reference, a bare name
 * not found). */
[[nodiscard]] cv_status cv_lib_load(cv_lib_handle *lib, const char *path);

/* Finds the function `name` of the loaded library `*lib` and stores it in
 * `*function`.  0; 22 for a null argument or a library not loaded; for a
 * missing symbol logs "Loading lib symbol [NAME] failed" at level ERR,
 * leaves `*function` null and returns the system's error, or 28680 when the
 * system gives no error code. */
[[nodiscard]] cv_status cv_lib_symbol(cv_lib_handle *lib, const char *name,
                                      cv_lib_function *function);

/* Unloads `*lib` and sets it to null.  A null variable or handle does
 * nothing.  A failure is logged at level ERR as "Lib unloading failed,
 * errno:CODE, err desc:TEXT" (the code 28679 when the system gives none).
 * Always 0. */
cv_status cv_lib_unload(cv_lib_handle *lib);

/* Bytes of the reason cv_lib_load_trusted gives, terminator included. */
inline constexpr std::size_t CV_LIB_REASON_SIZE = 256;

/* Loads library `name` (a bare file name) of `folder` into `*lib` only when
 * no account but root and `allowed_uid` could have put it there or changed
 * it: the folder must be a directory owned by root or `allowed_uid` that
 * neither group nor others may write, and the file, opened under the
 * folder without following a link and without blocking, a regular file
 * owned by root or `allowed_uid` that neither group nor others may write.
 * The file loaded is the very file checked (the open descriptor), never
 * whatever its name points at later; it is loaded as cv_lib_load loads.
 * `*lib` is null on failure, and `reason` (`reason_size` bytes, at least
 * CV_LIB_REASON_SIZE for the whole text; may be null) tells why: "not a
 * regular file", "a symbolic link", "owned by uid N", "writable by group or
 * others", "folder owned by uid N", "folder writable by group or others",
 * "cannot be opened: TEXT", "not a library: TEXT"; it is emptied on
 * success.  0; 22 for a null argument or a `name` that is not one entry of
 * a folder ("", ".", "..", or holding "/"); 28698 (CV_E_FILE_NOT_VALID)
 * when the folder or the file fails a check; the system's error when
 * either cannot be opened (2 missing, 40 a symbolic link); 28679 when the
 * file is not a library the loader accepts. */
[[nodiscard]] cv_status cv_lib_load_trusted(cv_lib_handle *lib, const char *folder,
                                            const char *name, std::uint32_t allowed_uid,
                                            char *reason, std::size_t reason_size);
