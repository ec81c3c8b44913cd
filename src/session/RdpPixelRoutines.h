#pragma once

// Picks the library's pixel routines before their first use. Left to itself the
// library times its plain routines against the processor's own and an OpenCL
// device's, some 0.3 s of CPU at the start of a process's first session; with
// no OpenCL device that measurement can only end on the processor's own, which
// are used only where the processor has their instructions, so it is skipped.
void ChooseRdpPixelRoutines();
