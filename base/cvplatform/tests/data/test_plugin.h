// The interface of the test plug-in (test_plugin.cpp), shared by the plug-in
// and the tests that load it.
#pragma once

/* An exported function whose name is longer than a backtrace line shows. */
#define CV_TEST_PLUGIN_LONG_NAME \
    cv_test_plugin_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows_a_name_longer_than_any_frame_line_shows

#define CV_TEST_PLUGIN_TEXT(name) CV_TEST_PLUGIN_TEXT_(name)
#define CV_TEST_PLUGIN_TEXT_(name) #name

extern "C" {
/* Returns 42. */
int cv_test_plugin_answer();

/* Calls `function` from the C++ function cv_test_plugin::call_through, so
 * that a backtrace taken inside `function` passes through a demangled
 * frame. */
void cv_test_plugin_call(void (*function)());

/* The address of cv_test_plugin::call_through(void (*)()). */
void *cv_test_plugin_call_through_address();

/* Writes through a null pointer: an access violation inside the plug-in. */
void cv_test_plugin_write_null();

int CV_TEST_PLUGIN_LONG_NAME();
}
