#pragma once

#include <QString>

// The pages that ship inside the program. No address of ours is built in: the
// site the link button opens is a setting (ShellSettings), and until it is set the
// button and the banner's link open the about page.
QString DefaultPageUrl();
// The default page told which server list file is in use, for the program's main window.
QString DefaultPageShowingFile();
QString BannerPageUrl();
QString AboutPageUrl();
