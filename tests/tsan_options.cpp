// Linked into every test program of a thread-sanitizer build. Qt's libraries
// are not instrumented: their painting hands work to pooled threads and back
// through synchronisation the sanitizer cannot see, so allocations and frees
// made inside them are left out of race detection. Every access made by the
// project's own (instrumented) code is still checked.
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
