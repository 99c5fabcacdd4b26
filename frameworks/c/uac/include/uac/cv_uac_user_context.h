// What the resolution of one user hands to the user class's build step
// (the `context` of cv_uac_load_user and of the load request).
#pragma once

/* The resolution context of a user object.  Both members may be null. */
struct cv_uac_user_context {
    /* The user name as the resolution received it (a domain, a backslash
     * and the user, or only the user); it wins over the `name` option. */
    const char *user_name;
    /* Handed on to every docroot the build step reads, as its load
     * request's context. */
    void *docroot_context;
};
