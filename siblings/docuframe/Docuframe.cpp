// Docuframe.dll: report generation. Answers no instance until its writer is in place.
#include <windows.h>
#include <unknwn.h>

extern "C" IUnknown* WINAPI GetInstance(const char*, LONG)
{
    return nullptr;
}
