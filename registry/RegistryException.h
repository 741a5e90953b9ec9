// ERegistryException: a registry value could not be read or written as asked.
#pragma once

#include <stdexcept>
#include <string>

namespace tidyhive {

class ERegistryException : public std::runtime_error {
public:
    explicit ERegistryException(const std::wstring& message);
    const std::wstring& Message() const { return message_; }

private:
    std::wstring message_;
};

// The message of any exception as wide text (what() holds UTF-8).
std::wstring ExceptionMessage(const std::exception& error);

}  // namespace tidyhive
