// Interfaces of the sibling libraries that sit beside Tidyhive.dll. Each library exports
// "GetInstance" (undecorated, __stdcall), which takes an instance identifier text such as
// "{EE9506EC-06E0-438F-B9CA-65A47523CA35}" and a parameter (always 0), and answers the
// service's interface or null. Slot numbers below count the three IUnknown slots.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <unknwn.h>

namespace tidyhive {

using GetInstanceFn = IUnknown*(WINAPI*)(const char* identifier, LONG param);
inline constexpr char kGetInstanceExport[] = "GetInstance";

}  // namespace tidyhive

#include "tidyhive/Backvault.h"
#include "tidyhive/Docuframe.h"
#include "tidyhive/Lingmoor.h"
#include "tidyhive/Sysvane.h"
#include "tidyhive/Tunestore.h"
