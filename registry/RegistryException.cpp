#include "registry/RegistryException.h"

#include "services/Text.h"

namespace tidyhive {

ERegistryException::ERegistryException(const std::wstring& message)
    : std::runtime_error(WideToUtf8(message)), message_(message)
{
}

std::wstring ExceptionMessage(const std::exception& error)
{
    if (const auto* registry = dynamic_cast<const ERegistryException*>(&error)) {
        return registry->Message();
    }
    return Utf8ToWide(error.what());
}

}  // namespace tidyhive
