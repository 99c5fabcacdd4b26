// A plug-in for the tests of dynamic libraries and crash reports: a function
// to find and call, a C++ frame for backtraces to name, a fault inside a
// library, and a name too long for a backtrace line.
#include "test_plugin.h"

namespace cv_test_plugin {

volatile int calls = 0;

[[gnu::noinline]] void call_through(void (*function)()) {
    function();
    // Work after the call keeps this frame on the stack while `function` runs.
    calls = calls + 1;
}

}  // namespace cv_test_plugin

extern "C" {

int cv_test_plugin_answer() { return 42; }

void cv_test_plugin_call(void (*function)()) {
    cv_test_plugin::call_through(function);
    cv_test_plugin::calls = cv_test_plugin::calls + 1;
}

void *cv_test_plugin_call_through_address() {
    return reinterpret_cast<void *>(&cv_test_plugin::call_through);
}

[[gnu::noinline]] void cv_test_plugin_write_null() {
    volatile int *volatile target = nullptr;
    *target = 1;
}

int CV_TEST_PLUGIN_LONG_NAME() { return 7; }
}
