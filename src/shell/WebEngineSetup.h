#pragma once

// Prepares the web engine; call before the application object exists.
// - As root Chromium refuses to start with its sandbox on, so it is switched off then.
// - Pages are composed into the windows by Qt Quick's software renderer: the few small
//   pages of this program do not need a GL context, which costs some 40 MB and half a
//   second at start-up on machines without a GPU.
// - For the same reason no GL library is loaded at all on X11 (the GL integration is
//   set to "none" unless the user chose one); the setting is taken back once the
//   application object exists, so programs started from here do not inherit it.
void PrepareWebEngine();
