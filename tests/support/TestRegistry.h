// Registry keys of a test's own: a fresh GUID in the name, removed afterwards (pass or
// fail), in either registry view. Tests never touch keys the prefix created.
#pragma once

#include <windows.h>

#include <string>

namespace tidyhive::testing {

std::wstring NewGuidText();

class TTestKey {
public:
    // Creates HKEY_CURRENT_USER\Software\TidyhiveTests\<prefix>-<GUID> (or under root/parent
    // when given) in the chosen view.
    explicit TTestKey(const std::wstring& prefix = L"Test", bool view64 = false,
                      HKEY root = HKEY_CURRENT_USER, const std::wstring& parent = L"Software\\TidyhiveTests");
    ~TTestKey();
    TTestKey(const TTestKey&) = delete;
    TTestKey& operator=(const TTestKey&) = delete;

    // Path below the root ("Software\TidyhiveTests\Test-{...}").
    const std::wstring& SubPath() const { return subPath_; }
    // Full path with the long root name ("HKEY_CURRENT_USER\Software\...").
    std::wstring FullPath() const;
    HKEY Root() const { return root_; }
    REGSAM View() const { return view_; }

    // Creates a subkey (and its parents) below the test key; answers its full path.
    std::wstring CreateSubKey(const std::wstring& relative) const;
    void SetString(const std::wstring& relative, const std::wstring& name, const std::wstring& value,
                   DWORD type = REG_SZ) const;
    void SetDword(const std::wstring& relative, const std::wstring& name, DWORD value) const;
    bool Exists(const std::wstring& relative = {}) const;
    bool ValueExists(const std::wstring& relative, const std::wstring& name) const;

private:
    std::wstring Join(const std::wstring& relative) const;
    HKEY root_;
    REGSAM view_;
    std::wstring subPath_;
};

// A key the prefix may lack (the 32-bit view's Run key, the Explorer's FileExts key), or one
// of the test's own (a ProgID, an App Paths name): made when missing, and removed at the end
// only when this test made it and left it empty.
class TEnsuredKey {
public:
    TEnsuredKey(HKEY root, std::wstring path, REGSAM view);
    ~TEnsuredKey();
    TEnsuredKey(const TEnsuredKey&) = delete;
    TEnsuredKey& operator=(const TEnsuredKey&) = delete;

    HKEY Root() const { return root_; }
    const std::wstring& Path() const { return path_; }
    REGSAM View() const { return view_; }
    std::wstring FullPath() const;

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    bool created_ = false;
};

// A folder of a test's own inside the prefix's drive, removed with its content afterwards.
class TTestFolder {
public:
    TTestFolder();
    ~TTestFolder();
    TTestFolder(const TTestFolder&) = delete;
    TTestFolder& operator=(const TTestFolder&) = delete;

    // With a trailing backslash.
    const std::wstring& Path() const { return path_; }
    std::wstring AddFile(const std::wstring& relative, const std::string& content = "x") const;

private:
    std::wstring path_;
};

// The whole content of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path);

// The name of a root key as the engine writes it ("HKEY_CURRENT_USER").
std::wstring RootName(HKEY root);

}  // namespace tidyhive::testing
