// A tiny shared module for the library loader tests.
extern "C" __attribute__((visibility("default"))) int tcore_test_module_twice(int x) { return 2 * x; }
