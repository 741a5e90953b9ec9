#include "host/SessionCommands.h"

#include "host/Console.h"
#include "tidyhive/Backvault.h"

#include <windows.h>

namespace tidyhive::host {
namespace {

// The backup library's instance, loaded from the host's folder as the engine loads it.
class TBackvaultLibrary {
public:
    TBackvaultLibrary() = default;
    ~TBackvaultLibrary()
    {
        if (backvault_) {
            backvault_->Release();
        }
        // The library stays loaded: its instance lives until the process ends.
    }
    TBackvaultLibrary(const TBackvaultLibrary&) = delete;
    TBackvaultLibrary& operator=(const TBackvaultLibrary&) = delete;

    bool Open(const std::wstring& command)
    {
        HMODULE library = LoadLibraryW(L"Backvault.dll");
        if (!library) {
            ErrLine(L"tidyhive " + command + L": cannot load Backvault.dll (error " +
                    std::to_wstring(GetLastError()) + L")");
            return false;
        }
        using GetInstanceFn = IUnknown*(WINAPI*)(const char*, LONG);
        const auto getInstance = reinterpret_cast<GetInstanceFn>(GetProcAddress(library, "GetInstance"));
        IUnknown* instance = getInstance ? getInstance(kBackvaultInstanceId, 0) : nullptr;
        if (!instance ||
            FAILED(instance->QueryInterface(IID_IBackvault, reinterpret_cast<void**>(&backvault_)))) {
            backvault_ = nullptr;
            ErrLine(L"tidyhive " + command + L": Backvault.dll provides no backup service");
        }
        if (instance) {
            instance->Release();
        }
        return backvault_ != nullptr;
    }
    IBackvault* operator->() const { return backvault_; }

    std::wstring LastError() const
    {
        BSTR text = nullptr;
        backvault_->GetLastErrorText(&text);
        return TakeText(text);
    }

private:
    IBackvault* backvault_ = nullptr;
};

std::wstring LocalTime(const FILETIME& utc)
{
    if (utc.dwHighDateTime == 0 && utc.dwLowDateTime == 0) {
        return L"-";
    }
    FILETIME local = {};
    SYSTEMTIME time = {};
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &time)) {
        return L"?";
    }
    wchar_t text[32] = {};
    swprintf(text, 32, L"%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth, time.wDay, time.wHour,
             time.wMinute, time.wSecond);
    return text;
}

bool Unexpected(const std::wstring& command, const std::vector<std::wstring>& args, size_t from)
{
    if (args.size() > from) {
        ErrLine(L"tidyhive " + command + L": unexpected argument '" + args[from] + L"'");
        return true;
    }
    return false;
}

}  // namespace

int ListSessionsCommand(const std::vector<std::wstring>& args)
{
    if (Unexpected(L"sessions", args, 0)) {
        return 2;
    }
    TBackvaultLibrary backvault;
    if (!backvault.Open(L"sessions")) {
        return 1;
    }
    const LONG count = backvault->GetSessionCount();
    if (count == 0) {
        BSTR folder = nullptr;
        backvault->GetStorageFolder(&folder);
        OutLine(L"No backup sessions in " + TakeText(folder) + L".");
        return 0;
    }
    OutLine(L"ID\tStarted\tFinished\tChanges\tState\tTitle");
    for (LONG index = 0; index < count; ++index) {
        BackvaultSessionInfo info = {};
        if (FAILED(backvault->GetSessionInfo(index, &info))) {
            ErrLine(L"tidyhive sessions: " + backvault.LastError());
            return 1;
        }
        const wchar_t* state = info.damaged ? L"damaged" : (info.complete ? L"complete" : L"incomplete");
        OutLine(std::wstring(info.id ? info.id : L"") + L"\t" + LocalTime(info.started) + L"\t" +
                LocalTime(info.finished) + L"\t" + std::to_wstring(info.changes) + L"\t" + state + L"\t" +
                (info.title ? info.title : L""));
        ClearSessionInfo(info);
    }
    return 0;
}

int RestoreSessionCommand(const std::vector<std::wstring>& args)
{
    if (args.empty()) {
        ErrLine(L"tidyhive restore: which session? Usage: tidyhive restore ID [--overwrite]");
        return 2;
    }
    const bool overwrite = args.size() > 1 && args[1] == L"--overwrite";
    if (Unexpected(L"restore", args, overwrite ? 2 : 1)) {
        return 2;
    }
    TBackvaultLibrary backvault;
    if (!backvault.Open(L"restore")) {
        return 1;
    }
    BSTR report = nullptr;
    const HRESULT status = backvault->RestoreSession(args[0].c_str(), overwrite ? TRUE : FALSE, &report);
    const std::wstring text = TakeText(report);
    if (FAILED(status)) {
        if (!text.empty()) {
            Out(text);
        }
        ErrLine(L"tidyhive restore: " + backvault.LastError());
        return 1;
    }
    Out(text);
    // 3: finished, but later edits were left as they are.
    return status == S_FALSE ? 3 : 0;
}

int ExportSessionCommand(const std::vector<std::wstring>& args)
{
    if (args.size() < 2) {
        ErrLine(L"tidyhive export: usage: tidyhive export ID FILE");
        return 2;
    }
    if (Unexpected(L"export", args, 2)) {
        return 2;
    }
    TBackvaultLibrary backvault;
    if (!backvault.Open(L"export")) {
        return 1;
    }
    if (FAILED(backvault->ExportSession(args[0].c_str(), args[1].c_str()))) {
        ErrLine(L"tidyhive export: " + backvault.LastError());
        return 1;
    }
    OutLine(L"Exported session " + args[0] + L" to " + args[1] + L".");
    return 0;
}

}  // namespace tidyhive::host
