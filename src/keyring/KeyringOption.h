#pragma once

// Whether new and changed passwords go to the desktop keyring instead of the
// catalogue's file. Off unless the user turns it on, so that the server list file
// keeps the passwords where every other program reading it expects them.
bool PasswordsInKeyring();
void SetPasswordsInKeyring(bool on);
