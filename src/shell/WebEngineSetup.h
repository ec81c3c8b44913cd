#pragma once

// Prepares the web engine; call before the application object exists.
// As root Chromium refuses to start with its sandbox on, so it is switched off then.
void PrepareWebEngine();
