// Test helpers for Backvault.dll, loaded as a host loads it (LoadLibrary + "GetInstance"):
// the library, registry trees of every value kind, an exact dump of a tree, deletion
// through IRegAccess exactly as the engine deletes, and child processes.
#pragma once

#include "tidyhive/Backvault.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tidyhive::testing {

// The library's instance, with the storage folder pointed at a test's own folder (and
// back to the default afterwards).
class TBackvaultInstance {
public:
    explicit TBackvaultInstance(const std::wstring &storageFolder = {});
    ~TBackvaultInstance();
    TBackvaultInstance(const TBackvaultInstance &) = delete;
    TBackvaultInstance &operator=(const TBackvaultInstance &) = delete;

    IBackvault *operator->() const { return backvault_; }
    IBackvault *get() const { return backvault_; }
    IRegAccess *reg() const { return reg_; }
    IFileAccess *files() const { return files_; }

    // Begins a session and answers its identifier (empty on failure).
    std::wstring Begin(const std::wstring &title = L"Test session");
    // Restores; answers the HRESULT and the report.
    HRESULT Restore(const std::wstring &id, bool overwrite, std::wstring &report) const;
    std::wstring LastError() const;

private:
    IBackvault *backvault_ = nullptr;
    IRegAccess *reg_ = nullptr;
    IFileAccess *files_ = nullptr;
};

// Removes a key tree in one view when the test ends (pass or fail).
class TKeyTreeGuard {
public:
    TKeyTreeGuard(HKEY root, std::wstring path, REGSAM view);
    ~TKeyTreeGuard();
    TKeyTreeGuard(const TKeyTreeGuard &) = delete;
    TKeyTreeGuard &operator=(const TKeyTreeGuard &) = delete;

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
};

struct TTestValue {
    std::wstring name;
    DWORD type;
    std::vector<uint8_t> data;
};

// Values of every kind worth a round trip: all standard types and unusual type numbers,
// empty and 100 KB data, a default value, names outside ANSI, strings without a
// terminator. salt makes two trees differ.
std::vector<TTestValue> AllKindsOfValues(const std::wstring &salt);

struct TTreeOptions {
    bool classes = true;    // key classes (a regedit file cannot carry them)
    bool oddStrings = true; // REG_SZ data a regedit import cannot reproduce byte for byte
};
// Creates path (and its parents) with a tree below it: values of every kind, subkeys
// three levels deep, an empty key, non-ANSI key names.
void CreateTestTree(HKEY root, const std::wstring &path, REGSAM view, const std::wstring &salt,
                    const TTreeOptions &options = {});

// An exact, ordered description of a tree (names, classes, types and bytes in hex);
// empty when the key does not exist.
std::wstring DumpTree(HKEY root, const std::wstring &path, REGSAM view, bool withClasses = true);

// Deletes a key as the engine does, every step through IRegAccess: subkeys depth first from
// the highest index down, then the values one by one, then the key with its view bits.
bool DeleteLikeEngine(IRegAccess *access, HKEY base, const std::wstring &path, REGSAM sam);

// Runs a program to its end (at most timeoutMs) and answers its exit code, or -1.
int RunProcess(const std::wstring &commandLine, DWORD timeoutMs = 60000);

// Runs a program to its end with its standard output and error on a pipe; answers the
// exit code (or -1) and the output as UTF-8 bytes.
int RunCaptured(const std::wstring &commandLine, std::string &output, DWORD timeoutMs = 60000);

// UTF-8 text as UTF-16.
std::wstring FromUtf8(const std::string &text);

// The folder of the test executable, with a trailing backslash (built programs live there).
std::wstring ExecutableFolder();

// Bytes of a whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFileBytes(const std::wstring &path);

std::wstring ToHex(const std::vector<uint8_t> &bytes, size_t limit = 64);

} // namespace tidyhive::testing
