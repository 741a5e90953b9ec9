// The recorded route to the registry: every open, creation, change and close goes through
// the backup library's IRegAccess, which records in the open backup session what each
// change replaces. Without an IRegAccess the route falls back to the plain registry
// functions (nothing is recorded then); the read route uses it that way on purpose.
#pragma once

#include "services/ComPtr.h"
#include "tidyhive/Backvault.h"

#include <windows.h>

#include <string>
#include <utility>

namespace tidyhive {

class TRegAccessRoute {
public:
    // access may be null: the plain registry functions then stand in. The route keeps a
    // reference of its own.
    explicit TRegAccessRoute(IRegAccess* access) : access_(TComPtr<IRegAccess>::Share(access)) {}

    bool Recorded() const { return static_cast<bool>(access_); }
    IRegAccess* Access() const { return access_.Get(); }

    // Each answers the Windows error code. An out handle is null after a failure.
    LONG OpenKey(HKEY parent, const std::wstring& subKey, REGSAM access, HKEY& result) const;
    LONG CreateKey(HKEY parent, const std::wstring& subKey, REGSAM access, HKEY& result) const;
    LONG SetValue(HKEY key, const std::wstring& name, DWORD type, const BYTE* data, DWORD size) const;
    LONG DeleteValue(HKEY key, const std::wstring& name) const;
    // view: the view bits of the access mask the key was opened with.
    LONG DeleteKey(HKEY parent, const std::wstring& subKey, REGSAM view) const;
    LONG SetKeySecurity(HKEY key, SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor) const;
    LONG CloseKey(HKEY key) const;

private:
    TComPtr<IRegAccess> access_;
};

// One key handle opened through a route, closed through the same route when it goes.
class TRoutedKey {
public:
    TRoutedKey() = default;
    TRoutedKey(const TRegAccessRoute& route, HKEY owned) : route_(&route), key_(owned) {}
    ~TRoutedKey() { Close(); }
    TRoutedKey(const TRoutedKey&) = delete;
    TRoutedKey& operator=(const TRoutedKey&) = delete;
    TRoutedKey(TRoutedKey&& other) noexcept : route_(other.route_), key_(std::exchange(other.key_, nullptr))
    {
    }
    TRoutedKey& operator=(TRoutedKey&& other) noexcept
    {
        if (this != &other) {
            Close();
            route_ = other.route_;
            key_ = std::exchange(other.key_, nullptr);
        }
        return *this;
    }

    // Opens subKey below parent through the route; on failure the key stays closed and
    // the error is answered.
    LONG Open(const TRegAccessRoute& route, HKEY parent, const std::wstring& subKey, REGSAM access)
    {
        Close();
        route_ = &route;
        return route.OpenKey(parent, subKey, access, key_);
    }

    HKEY Get() const { return key_; }
    explicit operator bool() const { return key_ != nullptr; }
    HKEY Detach() { return std::exchange(key_, nullptr); }
    void Close()
    {
        if (key_ && route_) {
            route_->CloseKey(std::exchange(key_, nullptr));
        }
    }

private:
    const TRegAccessRoute* route_ = nullptr;
    HKEY key_ = nullptr;
};

}  // namespace tidyhive
