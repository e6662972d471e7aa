// A library the image-list test loads and unloads.
extern "C" int crashTestLoadableFunction(int value) { return value * 3 + 1; }
