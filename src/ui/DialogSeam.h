#pragma once

#include <functional>

class QDialog;

// The program's own modal dialogs run through here, so that a test can take the
// user's part: while a hook is set, it is called with each dialog once the dialog
// is on screen and its loop runs, and answers it as a user would (types, clicks,
// closes it).
class DialogSeam {
public:
    using Hook = std::function<void(QDialog *)>;

    // Runs the dialog modally and returns its result, as QDialog::exec does.
    static int Exec(QDialog &dialog);
    // For a dialog that runs a wait of its own: call it as the dialog is shown; the
    // hook is called once that wait runs.
    static void Announce(QDialog *dialog);
    // Sets the hook; an empty one sets none. Returns the hook it replaces.
    static Hook SetHook(Hook hook);
};
