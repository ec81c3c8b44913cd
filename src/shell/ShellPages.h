#pragma once

#include <QString>

// The pages that ship inside the program, and the project's home page.
QString DefaultPageUrl();
QString BannerPageUrl();
QString HomePageUrl();
