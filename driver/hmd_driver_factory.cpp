// The driver library's only export. The runtime looks it up by this exact name.
#include "driver/device_provider.h"

extern "C" __attribute__((visibility("default"))) void* HmdDriverFactory(const char* pInterfaceName,
                                                                         int* pReturnCode) {
    return quenlark::ServeDriverInterface(pInterfaceName, pReturnCode);
}
