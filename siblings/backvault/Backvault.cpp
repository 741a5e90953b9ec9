// Backvault.dll: backup sessions. Answers no instance until its sessions are in place.
#include <windows.h>
#include <unknwn.h>

extern "C" IUnknown* WINAPI GetInstance(const char*, LONG)
{
    return nullptr;
}
