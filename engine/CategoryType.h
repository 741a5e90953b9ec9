// Category types, their persistent names and the texts that describe each category.
#pragma once

#include "services/LocalizedTexts.h"
#include "tidyhive/Tidyhive.h"

#include <string>

namespace tidyhive {

// "rctClasses" ... "rctInternet"; an empty text for a value above 16.
std::wstring CategoryTypeToName(TCategoryType type);

struct TCategoryDescriptor {
    TCategoryType type;
    bool flag;  // left out by AddDefaultCategories
    TextKey name;
    TextKey description;
    TextKey detailedDescription;
};

// The descriptor of types 1 to 16; null for rctUndefined and above 16.
const TCategoryDescriptor* FindCategoryDescriptor(TCategoryType type);

}  // namespace tidyhive
