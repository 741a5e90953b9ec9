// TRegKey: owns one registry key handle opened through the plain registry functions and
// closes it when it goes. Attach/Detach hand ownership over.
#pragma once

#include <windows.h>

#include <utility>

namespace tidyhive {

class TRegKey {
public:
    TRegKey() = default;
    explicit TRegKey(HKEY owned) : key_(owned) {}
    ~TRegKey() { Close(); }
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;
    TRegKey(TRegKey&& other) noexcept : key_(other.Detach()) {}
    TRegKey& operator=(TRegKey&& other) noexcept
    {
        if (this != &other) {
            Attach(other.Detach());
        }
        return *this;
    }

    // Opens subKey below parent. On failure the key stays closed and the error is answered.
    LONG Open(HKEY parent, const wchar_t* subKey, REGSAM access)
    {
        Close();
        return RegOpenKeyExW(parent, subKey, 0, access, &key_);
    }

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    // Closes what is held and takes owned over.
    void Attach(HKEY owned)
    {
        Close();
        key_ = owned;
    }
    HKEY Detach() { return std::exchange(key_, nullptr); }
    void Close()
    {
        if (key_) {
            RegCloseKey(std::exchange(key_, nullptr));
        }
    }

private:
    HKEY key_ = nullptr;
};

}  // namespace tidyhive
