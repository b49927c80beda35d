// A shared object that loads but does not export the plug-in factory.
extern "C" __attribute__((visibility("default"))) int XRPluginSomethingElse() { return 42; }
