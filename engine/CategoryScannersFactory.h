// Makes the scanner of a category type.
#pragma once

#include "scan/BaseCategoryScanner.h"

#include <memory>

namespace tidyhive {

class TCategoryScannersFactory {
public:
    static TCategoryScannersFactory& Instance();

    // Whether the type has a scanner class at all (1 to 16).
    bool HasScannerClass(TCategoryType type) const;
    // The class-level flag, read without making a scanner.
    bool GetCategoryFlag(TCategoryType type) const;
    // A new scanner, or null when the type has no class or its construction fails.
    std::unique_ptr<TBaseCategoryScanner> CreateScanner(TCategoryType type) const noexcept;
};

}  // namespace tidyhive
