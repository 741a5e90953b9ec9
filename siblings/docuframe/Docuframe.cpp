// Docuframe.dll: report generation.
#include "siblings/docuframe/XmlReport.h"

using namespace tidyhive;
using namespace tidyhive::siblings;

extern "C" IUnknown *WINAPI GetInstance(const char *identifier, LONG)
{
    if (!SameIdentifier(identifier, kReportGeneratorInstanceId)) {
        return nullptr;
    }
    // One manager for the life of the process; every call hands out a new reference.
    static TReportManager *manager = new TReportManager();
    manager->AddRef();
    return static_cast<IReportManager *>(manager);
}
