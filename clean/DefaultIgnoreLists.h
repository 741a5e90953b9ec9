// The engine's built-in ignore lists, carried in its resource "IGNORE_LIST" / "DEFAULT".
#pragma once

#include "clean/IgnoreList.h"

namespace tidyhive {

// Fills list with the built-in entries of a category (none when the resource has no entry
// for it). A damaged resource leaves the list empty and writes a debug-log line.
void LoadDefaultIgnoreList(TCategoryType type, TIgnoreList& list);

}  // namespace tidyhive
