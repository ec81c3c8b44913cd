// Leak settings for the test program that runs sessions against xrdp.
//
// Against xrdp every session leaves three pairs of blocks (3072 and 128 bytes)
// that libfreerdp 2.11 allocates inside its own cache code while it processes the
// server's drawing orders (freerdp_check_event_handles, then frames of the
// library alone), and that its own clean-up does not free. The shadow server sends
// no such orders, so the other session tests keep the whole leak check, and they
// cover the same worker code.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfreerdp2.so.2\n";
}
