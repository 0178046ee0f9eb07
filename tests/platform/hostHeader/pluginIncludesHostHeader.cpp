// A plug-in source that reaches for the host's side of the platform seam. It
// must not build: the test platform.HostHeaderRefusedOnPluginSide expects the
// error that platform/host.h raises outside kvq_platform_host.
#include "platform/host.h"
#include "platform/module.h"

KVQ_EXPORT int V_KVQ_ENTRY() {
    return plat::pumpMessages(0);
}
