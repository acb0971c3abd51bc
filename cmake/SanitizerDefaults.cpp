// Linked into every executable of a sanitized build. Child processes that tests start with a cleaned
// environment still run with these options, since they are part of the program rather than of ASAN_OPTIONS.

extern "C" {

// Leaks are not reported: Qt, fontconfig and pending coroutine frames keep allocations for the process's
// whole life, which LeakSanitizer would list at every exit. Strict string checks stay off: the X keyboard
// library hands strndup names that end at their length rather than at a NUL, which they would report.
const char* __asan_default_options() {
    return "detect_leaks=0:detect_stack_use_after_return=1";
}

const char* __ubsan_default_options() {
    return "print_stacktrace=1:halt_on_error=1";
}
}
