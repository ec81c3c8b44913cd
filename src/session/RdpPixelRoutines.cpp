#include "RdpPixelRoutines.h"

#include <freerdp/primitives.h>

#include <dlfcn.h>

#include <cstdint>

namespace {

// Whether the OpenCL loader the library was built with names any platform.
// Asked by name, so that no OpenCL headers are needed here.
bool OpenClPlatformPresent()
{
    void *loader = dlopen("libOpenCL.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!loader)
        return false;
    using GetPlatformIds = int32_t (*)(uint32_t, void *, uint32_t *);
    auto getPlatformIds = reinterpret_cast<GetPlatformIds>(dlsym(loader, "clGetPlatformIDs"));
    uint32_t platforms = 0;
    const bool present = getPlatformIds && getPlatformIds(0, nullptr, &platforms) == 0 && platforms > 0;
    dlclose(loader);
    return present;
}

} // namespace

void ChooseRdpPixelRoutines()
{
    if (primitives_get_hints() == PRIMITIVES_AUTODETECT && !OpenClPlatformPresent())
        primitives_set_hints(PRIMITIVES_ONLY_CPU);
}
