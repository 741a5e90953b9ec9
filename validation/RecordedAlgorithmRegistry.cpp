#include "validation/RecordedAlgorithmRegistry.h"

#include "clean/RestoreManager.h"
#include "registry/RegistryPaths.h"
#include "registry/RegistryUtility.h"
#include "services/DebugLog.h"
#include "services/Text.h"

namespace tidyhive {
namespace {

// The plain calls of the seam promise EAlgorithmRegistryError.
template <class Body> auto AsAlgorithmError(Body&& body) -> decltype(body())
{
    try {
        return body();
    } catch (const EAlgorithmRegistryError&) {
        throw;
    } catch (const std::exception& error) {
        throw EAlgorithmRegistryError(error.what());
    }
}

}  // namespace

TRecordedAlgorithmRegistry::TRecordedAlgorithmRegistry() : fixedBackup_(false), backup_(nullptr) {}

TRecordedAlgorithmRegistry::TRecordedAlgorithmRegistry(IBackvault* backup)
    : fixedBackup_(true), backup_(backup)
{
}

TRecordedAlgorithmRegistry::~TRecordedAlgorithmRegistry() = default;

TRegistryUtility& TRecordedAlgorithmRegistry::Writer()
{
    if (!fixedBackup_) {
        // Follows the manager the engine uses now (tests and hosts may replace it).
        IBackvault* const current = TRestoreManager::Instance().Backup();
        if (!writer_ || current != backup_) {
            writer_.reset();
            backup_ = current;
        }
    }
    if (!writer_) {
        writer_ = std::make_unique<TRegistryUtility>(backup_);
    }
    writer_->Set64BitView(reads_.Is64BitView());
    return *writer_;
}

void TRecordedAlgorithmRegistry::Set64BitView(bool value)
{
    reads_.Set64BitView(value);
}

bool TRecordedAlgorithmRegistry::KeyExistsSafe(const std::wstring& path, bool& success)
{
    return reads_.KeyExistsSafe(path, success);
}

bool TRecordedAlgorithmRegistry::GetKeyNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                                                 bool& success)
{
    return reads_.GetKeyNamesSafe(path, names, success);
}

bool TRecordedAlgorithmRegistry::GetValueNamesSafe(const std::wstring& path, std::vector<std::wstring>& names,
                                                   bool& success)
{
    return reads_.GetValueNamesSafe(path, names, success);
}

bool TRecordedAlgorithmRegistry::GetValueTypeSafe(const std::wstring& path, const std::wstring& name,
                                                  DWORD& type, bool& success)
{
    return reads_.GetValueTypeSafe(path, name, type, success);
}

std::wstring TRecordedAlgorithmRegistry::ReadStringSafe(const std::wstring& path, const std::wstring& name,
                                                        bool& success)
{
    return reads_.ReadStringSafe(path, name, success);
}

bool TRecordedAlgorithmRegistry::DeleteKeySafe(const std::wstring& path, bool& success)
{
    try {
        if (ExtractKeyWithotRoot(path).empty()) {
            throw EAlgorithmRegistryError("refusing to delete the root " + WideToUtf8(path));
        }
        if (!reads_.KeyExists(path)) {
            success = true;
            return true;
        }
        const bool deleted = Writer().DeleteKey(path);
        if (deleted) {
            ++changes_;
        }
        success = true;
        return deleted;
    } catch (const std::exception& error) {
        DebugLog::LogError(Utf8ToWide(error.what()));
    } catch (...) {
        DebugLog::LogError(L"unknown registry error");
    }
    success = false;
    return false;
}

bool TRecordedAlgorithmRegistry::DeleteValue(const std::wstring& path, const std::wstring& name)
{
    return AsAlgorithmError([&] {
        if (!reads_.ValueExists(path, name)) {
            return true;
        }
        const bool deleted = Writer().DeleteValue(path, name);
        if (deleted) {
            ++changes_;
        }
        return deleted;
    });
}

bool TRecordedAlgorithmRegistry::ValueExists(const std::wstring& path, const std::wstring& name)
{
    return reads_.ValueExists(path, name);
}

void TRecordedAlgorithmRegistry::WriteString(const std::wstring& path, const std::wstring& name,
                                             const std::wstring& text)
{
    AsAlgorithmError([&] {
        if (!reads_.KeyExists(path)) {
            return;
        }
        Writer().WriteString(path, name, text);
        ++changes_;
    });
}

}  // namespace tidyhive
