#pragma once

#include <QString>

// Makes the known-hosts store in folder safe to use: the folder and its
// sub-folders exist with mode 0700, its files are regular files of mode 0600.
// Returns why it cannot be used, empty when it can. Something other than a
// folder or a regular file in their place (a symbolic link, a pipe, a device)
// is refused, never followed or opened.
QString PrepareCertificateStore(const QString &folder);
