#pragma once

class TfrmClient;

// The window that opens session windows and keeps the list of open ones. A
// session window's owner widget implements this; the window tells it when it closes.
class TClientOwner {
public:
    virtual void AddOpenClnt(TfrmClient *aFrmClnt) = 0;
    // Removes the first occurrence; nothing happens when it is not there.
    virtual void RemoveOpenClnt(TfrmClient *aFrmClnt) = 0;

protected:
    ~TClientOwner() = default;
};
