// Elements of a configuration entry that no option of a class reads.
//
// Resolution looks elements up by option path only: an element whose name
// is not a tag, or that no option's path reaches, has no effect and draws no
// word, so a misspelt `<mcast_prot>` is silently ignored.  This lists such
// elements for an administrator's check; it reads the document and changes
// nothing, neither the tree nor its decoration nor any object.
#pragma once

#include <libxml/tree.h>

#include <cstddef>

#include "cvplatform/cv_status.h"
#include "uac/cv_uac_config.h"

/* One element that no option reads. */
struct cv_uac_unread_element {
    const xmlNode *element; /* in the entry's document */
    const char *name;       /* the element's name, owned by the document */
    long line;              /* its line in the source (xmlGetLineNo), or -1 when unknown */
};

/* Lists in `*elements` (release with cv_uac_free) and `*count` the elements
 * below `entry`, at any depth, that no option of `cls` reads, in document
 * order.  An option reads the elements its catalogue path passes through
 * from `entry` (a step to the parent included, so a path may leave the
 * entry and come back into it), every element it ends on, and below that
 * what its type reads there: a string list's item elements, a schedule's
 * `schedule`, `change_points`, `change_point`, `epoch` and `value`.  Names
 * are matched as a search matches them (tag aliases included), so an
 * element whose name is not a tag is always listed, and so is everything
 * below an element that is listed.  Only elements are listed: text,
 * comments and processing instructions are not.  The records point into
 * the document, which must outlive them.  Nothing listed gives a null list
 * and 0.  0; 22 for a null argument; 8 when the list cannot be allocated
 * (`*elements` null, `*count` 0). */
[[nodiscard]] cv_status cv_uac_list_unread_elements(const cv_uac_class *cls,
                                                    const xmlNode *entry,
                                                    cv_uac_unread_element **elements,
                                                    std::size_t *count);
