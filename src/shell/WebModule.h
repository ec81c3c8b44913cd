#pragma once

class QWidget;
class WebBrowser;

// What the web engine module gives the program: a small table of functions,
// handed out by its one exported entry point. The module's controls derive from
// WebBrowser, whose code (and that of the boxes the pages open) the program
// exports for it: see WebSeam.dynlist.
struct WebModule {
    // Before the application object exists: the toolkit settings the engine needs
    // then (shared GL contexts, Qt Quick's software renderer).
    void (*Prepare)();
    // A new control owned by parent.
    WebBrowser *(*CreateBrowser)(QWidget *parent);
    // The start-up hold on the controls' pages: see HoldWebPages.
    void (*HoldPages)();
    void (*ReleasePages)();
};

inline constexpr int WebModuleInterfaceVersion = 1;
inline constexpr char WebModuleEntryPoint[] = "BrennicWebModule";
// The table, or nullptr when the module was built for another interface version.
using WebModuleEntry = const WebModule *(*)(int interfaceVersion);
