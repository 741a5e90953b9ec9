// Asks the sibling-library loader for a service from the library named on the command
// line, the way the engine does; prints "loaded" when the service was had.
#include "services/HostLibraries.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: LoaderProbe LIBRARY\n");
        return 2;
    }
    static tidyhive::TServiceCache cache{nullptr};
    IUnknown* instance =
        tidyhive::GetLibraryInstance(cache, argv[1], tidyhive::kHelperInstanceId, 0);
    tidyhive::CheckLibraryInstance(instance, L"Probe::Helper");
    // A second request after a failure must not retry (never reached when the check ends
    // the process, but keeps the sentinel path honest when it does not).
    std::printf("loaded\n");
    return 0;
}
