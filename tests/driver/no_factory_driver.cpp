// A shared library that looks like a driver but exports no HmdDriverFactory, for the host's
// load errors.
extern "C" __attribute__((visibility("default"))) int NotTheFactory() {
    return 0;
}
