#pragma once

#include <QString>

// The pages that ship inside the program, and the project's home page.
QString DefaultPageUrl();
// The default page told which server list file is in use, for the program's main window.
QString DefaultPageShowingFile();
QString BannerPageUrl();
QString HomePageUrl();
