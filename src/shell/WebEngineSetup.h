#pragma once

#include <QByteArray>
#include <vector>

class QWidget;

// The command line the application object is made with: the program's own
// arguments, then, after "--webEngineArgs", the switches meant for the web engine
// alone. Switches passed this way reach the engine and its helper processes, but
// not the environment that every program started from here inherits.
class WebEngineArguments {
public:
    WebEngineArguments(int argc, char **argv, const std::vector<QByteArray> &engineSwitches);
    WebEngineArguments(const WebEngineArguments &) = delete;
    WebEngineArguments &operator=(const WebEngineArguments &) = delete;

    // For QApplication, which keeps both for its lifetime.
    int &Count() { return count_; }
    char **Values() { return pointers_.data(); }

private:
    std::vector<QByteArray> values_;
    std::vector<char *> pointers_;
    int count_ = 0;
};

// Loads the web engine module and prepares the engine; call before the application
// object exists, and make that object with the arguments returned. A module that
// cannot be loaded leaves the program without web pages: their controls then say
// why, and a message box tells it once (CreateWebBrowser).
// - As root Chromium refuses to start with its sandbox on, so "--no-sandbox" is
//   passed to the engine then (on its command line; the environment stays clean),
//   and "--no-zygote": without a sandbox the two zygote processes only cost memory
//   and start-up time.
// - Pages of one site share one renderer process ("--process-per-site"): the
//   program's own pages need one renderer between them, not one each; pages of
//   other sites still run in processes of their own.
//   Chromium switches the user put into QTWEBENGINE_CHROMIUM_FLAGS move there too,
//   since the engine reads its command line only while that variable is unset.
// - Pages are composed into the windows by Qt Quick's software renderer: the few small
//   pages of this program do not need a GL context, which costs some 40 MB and half a
//   second at start-up on machines without a GPU.
// - For the same reason no GL library is loaded at all on X11 (the GL integration is
//   set to "none" unless the user chose one); the setting is taken back once the
//   application object exists, so programs started from here do not inherit it.
WebEngineArguments PrepareWebEngine(int argc, char **argv);

// Start-up order: the web controls made after HoldWebPages wait with their pages
// until ReleaseWebPagesOncePainted's window has painted for the first time (at the
// latest a few seconds after that call), so that the windows and the manager's list
// reach the screen before the web engine starts and loads the first pages. Call it
// before showing the window: a message box that showing it opens (and its own event
// loop) paints the window too.
void HoldWebPages();
void ReleaseWebPagesOncePainted(QWidget *window);
// Releases the held pages at once (a test that ends with pages held).
void ReleaseWebPages();
