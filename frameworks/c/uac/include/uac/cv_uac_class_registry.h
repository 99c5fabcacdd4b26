// The registry of the framework's config classes: every class a
// configuration can hold, with what a tool needs to walk them without
// knowing any one of them (its name, descriptor and option count, and a
// way to read an object of it from an XML fragment).
#pragma once

#include <cstddef>
#include <span>

#include "uac/cv_uac_config.h"

/* One registered class. */
struct cv_uac_class_entry {
    const char *name;         /* the class name, as in conf.d file names */
    cv_uac_class *descriptor; /* set up on first use */
    std::size_t option_count;
    /* Reads a new object of the class from `fragment` (see
     * cv_uac_config_from_fragment). */
    cv_status (*from_fragment)(cv_uac_class *cls, const char *fragment,
                               cv_uac_config_object **object);
};

/* Every registered class, in a fixed order. */
std::span<const cv_uac_class_entry> cv_uac_registered_classes();

/* The registered class named `name`, or null. */
const cv_uac_class_entry *cv_uac_registered_class(const char *name);

/* Reads a new object of `cls` into `*object` from `fragment`, the XML of
 * the options as they stand inside the class's element (what serialize
 * writes), wrapped as "<CONF version=\"2\">%s</CONF>" whatever its length
 * and read with the CONF element as the only start element.  The object
 * keeps the configuration it was read from (its source elements live in
 * it) and has one holder.  0; 22 for null arguments; 28682 when the text
 * is not XML; 8 out of memory; else the loader's status. */
[[nodiscard]] cv_status cv_uac_config_from_fragment(cv_uac_class *cls, const char *fragment,
                                                    cv_uac_config_object **object);
