// A shared library that is no plug-in: it exports none of the three functions.
extern "C" int KxNotAPlugin() { return 1; }
