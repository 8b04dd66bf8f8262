#include "common/platform/platform.h"
#include "host/host_main.h"

#include <cstdio>

int main(int argc, char **argv)
{
    // Without a display Qt aborts with a message about plug-ins; say what to do instead.
    if (!Platform::displayReachable(argc, argv)) {
        std::fputs(Platform::noDisplayMessage(), stderr);
        return 1;
    }
    return hostMain(argc, argv);
}
