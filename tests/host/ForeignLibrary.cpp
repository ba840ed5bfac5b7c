// A shared library that is not a Quillon plug-in: it exports something else.
extern "C" __attribute__((visibility("default"))) int SomethingElse() { return 42; }
