#include "siblings/backvault/RegAccess.h"

#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/RegistryState.h"
#include "siblings/backvault/Vault.h"

namespace tidyhive::backvault {
namespace {

// Runs a registry method: a change that cannot be recorded is not made, and the reason
// becomes the thread's last error text.
template <class Body> LONG Run(Body &&body) noexcept
{
    try {
        return body();
    } catch (const EBackvault &error) {
        SetLastErrorText(error.Message());
        return static_cast<LONG>(error.Code());
    } catch (const std::bad_alloc &) {
        SetLastErrorText(L"Not enough memory to record the change.");
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        SetLastErrorText(L"Unexpected failure while recording a registry change.");
        return ERROR_GEN_FAILURE;
    }
}

std::wstring NameOf(LPCWSTR valueName)
{
    return valueName ? valueName : L"";
}

const TRegLocation &Known(const std::optional<TRegLocation> &location)
{
    if (!location) {
        throw EBackvault(
            L"The key handle was not opened through the backup library, so a change through it cannot "
            L"be recorded",
            ERROR_INVALID_HANDLE);
    }
    return *location;
}

// The value as stored, read through the handle or, when the handle may not read, by
// location.
TValueState ReadBefore(HKEY key, const TRegLocation &location, const std::wstring &name)
{
    TValueState state;
    LONG status = ReadValue(key, name, state);
    if (status == ERROR_ACCESS_DENIED) {
        status = ReadValueAt(location, name, state);
    }
    if (status != ERROR_SUCCESS) {
        throw EBackvault(WithSystemMessage(L"Cannot read the " + DescribeValue(location, name) +
                                               L" to record it before the change",
                                           static_cast<DWORD>(status)),
                         static_cast<DWORD>(status));
    }
    return state;
}

bool SelfRelative(PSECURITY_DESCRIPTOR descriptor, TBytes &bytes)
{
    if (!descriptor || !IsValidSecurityDescriptor(descriptor)) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(descriptor, &control, &revision)) {
        return false;
    }
    if (control & SE_SELF_RELATIVE) {
        const auto *begin = static_cast<const uint8_t *>(descriptor);
        bytes.assign(begin, begin + GetSecurityDescriptorLength(descriptor));
        return true;
    }
    DWORD length = 0;
    MakeSelfRelativeSD(descriptor, nullptr, &length);
    bytes.assign(length, 0);
    return length && MakeSelfRelativeSD(descriptor, bytes.data(), &length);
}

} // namespace

std::optional<TRegLocation> TRegAccess::Resolve(HKEY key, LPCWSTR subKey, REGSAM access) const
{
    if (TRegKey::IsPredefined(key)) {
        TRegLocation location;
        location.root = RootValue(key);
        location.view = ViewOf(access);
        location.path = AppendPath(L"", subKey);
        return location;
    }
    const auto found = handles_.find(key);
    if (found == handles_.end() || !found->second.known) {
        return std::nullopt;
    }
    // A key opened below an open key stays in that key's view, whatever the new access says.
    TRegLocation location = found->second.location;
    location.path = AppendPath(location.path, subKey);
    return location;
}

void TRegAccess::Remember(HKEY handle, const std::optional<TRegLocation> &location)
{
    THandleEntry entry;
    entry.known = location.has_value();
    if (location) {
        entry.location = *location;
    }
    handles_[handle] = std::move(entry);
}

LONG STDMETHODCALLTYPE TRegAccess::RegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass,
                                                  DWORD options, REGSAM access,
                                                  LPSECURITY_ATTRIBUTES security, PHKEY result,
                                                  LPDWORD disposition)
{
    return Run([&]() -> LONG {
        TVault &vault = Vault();
        TLockGuard guard(vault.Lock());
        const std::optional<TRegLocation> location = Resolve(key, subKey, access);
        // An existing key is opened, as RegCreateKeyEx does on Windows; Wine's RegCreateKeyEx
        // would clear the existing key's class.
        const DWORD plainOptions = REG_OPTION_NON_VOLATILE | REG_OPTION_VOLATILE;
        if (result && (options & ~plainOptions) == 0 &&
            ::RegOpenKeyExW(key, subKey, 0, access, result) == ERROR_SUCCESS) {
            if (disposition) {
                *disposition = REG_OPENED_EXISTING_KEY;
            }
            Remember(*result, location);
            return ERROR_SUCCESS;
        }
        std::optional<uint32_t> intent;
        if (vault.MustRecord()) {
            TKeyCreation creation;
            creation.key = Known(location);
            bool exists = true;
            ProbeKey(creation.key, exists);
            if (!exists) {
                // Remember which parents were missing too: the call creates them all.
                const std::vector<std::wstring> names = SplitPath(creation.key.path);
                for (size_t depth = names.size() - 1; depth > 0; --depth) {
                    TRegLocation parent = creation.key;
                    parent.path = JoinPath(names, depth);
                    bool parentExists = true;
                    ProbeKey(parent, parentExists);
                    if (parentExists) {
                        creation.existingDepth = static_cast<uint32_t>(depth);
                        break;
                    }
                }
                intent = vault.RecordChange(TRecordKind::CreateKey, Encode(creation));
            }
        }
        const LONG status = ::RegCreateKeyExW(key, subKey, reserved, keyClass, options, access, security,
                                              result, disposition);
        if (intent) {
            vault.RecordOutcome(TOutcome{*intent, static_cast<uint32_t>(status), false, {}});
        }
        if (status == ERROR_SUCCESS && result) {
            Remember(*result, location);
        }
        return status;
    });
}

LONG STDMETHODCALLTYPE TRegAccess::RegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access,
                                                PHKEY result)
{
    return Run([&]() -> LONG {
        TLockGuard guard(Vault().Lock());
        const LONG status = ::RegOpenKeyExW(key, subKey, options, access, result);
        if (status == ERROR_SUCCESS && result) {
            Remember(*result, Resolve(key, subKey, access));
        }
        return status;
    });
}

LONG STDMETHODCALLTYPE TRegAccess::RegQueryValueEx(HKEY key, LPCWSTR valueName, LPDWORD reserved,
                                                   LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return ::RegQueryValueExW(key, valueName, reserved, type, data, dataSize);
}

LONG STDMETHODCALLTYPE TRegAccess::RegDeleteValue(HKEY key, LPCWSTR valueName)
{
    return Run([&]() -> LONG {
        TVault &vault = Vault();
        TLockGuard guard(vault.Lock());
        std::optional<uint32_t> intent;
        if (vault.MustRecord()) {
            TValueChange change;
            change.key = Known(Resolve(key, nullptr, 0));
            change.name = NameOf(valueName);
            change.before = ReadBefore(key, change.key, change.name);
            if (change.before.present) {
                intent = vault.RecordChange(TRecordKind::DeleteValue, Encode(change));
            }
        }
        const LONG status = ::RegDeleteValueW(key, valueName);
        if (intent) {
            vault.RecordOutcome(TOutcome{*intent, static_cast<uint32_t>(status), false, {}});
        }
        return status;
    });
}

LONG STDMETHODCALLTYPE TRegAccess::RegDeleteKeyEx(HKEY key, LPCWSTR subKey, REGSAM view, DWORD reserved)
{
    return Run([&]() -> LONG {
        TVault &vault = Vault();
        TLockGuard guard(vault.Lock());
        std::optional<uint32_t> intent;
        if (vault.MustRecord()) {
            TKeyDeletion deletion;
            deletion.key = Known(Resolve(key, subKey, view));
            TRegKey target;
            const LONG opened = OpenLocation(deletion.key, KEY_READ, target);
            if (opened != ERROR_SUCCESS && opened != ERROR_FILE_NOT_FOUND) {
                throw EBackvault(WithSystemMessage(L"Cannot read the key " + Describe(deletion.key) +
                                                       L" to record it before its deletion",
                                                   static_cast<DWORD>(opened)),
                                 static_cast<DWORD>(opened));
            }
            if (opened == ERROR_SUCCESS) {
                // Whatever is still in the key is recorded, down to the last subkey, so that
                // the deletion of a whole tree can be undone too.
                const std::vector<std::wstring> names = SplitPath(deletion.key.path);
                deletion.snapshot.name = names.empty() ? L"" : names.back();
                const LONG captured = CaptureKey(target.get(), deletion.key.view, deletion.snapshot);
                if (captured != ERROR_SUCCESS) {
                    throw EBackvault(WithSystemMessage(L"Cannot read the key " + Describe(deletion.key) +
                                                           L" to record it before its deletion",
                                                       static_cast<DWORD>(captured)),
                                     static_cast<DWORD>(captured));
                }
                target.Reset();
                intent = vault.RecordChange(TRecordKind::DeleteKey, Encode(deletion));
            }
        }
        const LONG status = ::RegDeleteKeyExW(key, subKey, view, reserved);
        if (intent) {
            vault.RecordOutcome(TOutcome{*intent, static_cast<uint32_t>(status), false, {}});
        }
        return status;
    });
}

LONG STDMETHODCALLTYPE TRegAccess::RegSetValueEx(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type,
                                                 const BYTE *data, DWORD dataSize)
{
    return Run([&]() -> LONG {
        TVault &vault = Vault();
        TLockGuard guard(vault.Lock());
        std::optional<uint32_t> intent;
        TValueChange change;
        // Data missing for a non-zero size fails below without changing anything.
        if (vault.MustRecord() && (data || dataSize == 0)) {
            change.key = Known(Resolve(key, nullptr, 0));
            change.name = NameOf(valueName);
            change.before = ReadBefore(key, change.key, change.name);
            change.after.present = true;
            change.after.type = type;
            if (data) {
                change.after.data.assign(data, data + dataSize);
            }
            intent = vault.RecordChange(TRecordKind::SetValue, Encode(change));
        }
        const LONG status = ::RegSetValueExW(key, valueName, reserved, type, data, dataSize);
        if (intent) {
            TOutcome outcome{*intent, static_cast<uint32_t>(status), false, {}};
            if (status == ERROR_SUCCESS) {
                // The registry may keep other bytes than given (a terminator added to a
                // string); a restore must recognise what it kept.
                TValueState stored;
                LONG read = ReadValue(key, change.name, stored);
                if (read == ERROR_ACCESS_DENIED) {
                    read = ReadValueAt(change.key, change.name, stored);
                }
                if (read == ERROR_SUCCESS && !(stored == change.after)) {
                    outcome.hasStored = true;
                    outcome.stored = std::move(stored);
                }
            }
            vault.RecordOutcome(outcome);
        }
        return status;
    });
}

LONG STDMETHODCALLTYPE TRegAccess::RegEnumKeyEx(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                                LPDWORD reserved, LPWSTR keyClass, LPDWORD classLength,
                                                PFILETIME lastWrite)
{
    return ::RegEnumKeyExW(key, index, name, nameLength, reserved, keyClass, classLength, lastWrite);
}

LONG STDMETHODCALLTYPE TRegAccess::RegEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength,
                                                LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return ::RegEnumValueW(key, index, name, nameLength, reserved, type, data, dataSize);
}

LONG STDMETHODCALLTYPE TRegAccess::RegQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength,
                                                   LPDWORD reserved, LPDWORD subKeys, LPDWORD maxSubKeyLength,
                                                   LPDWORD maxClassLength, LPDWORD values,
                                                   LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                                   LPDWORD securityDescriptor, PFILETIME lastWrite)
{
    return ::RegQueryInfoKeyW(key, keyClass, classLength, reserved, subKeys, maxSubKeyLength, maxClassLength,
                              values, maxValueNameLength, maxValueLength, securityDescriptor, lastWrite);
}

LONG STDMETHODCALLTYPE TRegAccess::RegFlushKey(HKEY key)
{
    return ::RegFlushKey(key);
}

LONG STDMETHODCALLTYPE TRegAccess::RegGetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                                     PSECURITY_DESCRIPTOR descriptor, LPDWORD descriptorSize)
{
    return ::RegGetKeySecurity(key, information, descriptor, descriptorSize);
}

LONG STDMETHODCALLTYPE TRegAccess::RegCloseKey(HKEY key)
{
    return Run([&]() -> LONG {
        TLockGuard guard(Vault().Lock());
        handles_.erase(key);
        return ::RegCloseKey(key);
    });
}

LONG STDMETHODCALLTYPE TRegAccess::RegSetKeySecurity(HKEY key, SECURITY_INFORMATION information,
                                                     PSECURITY_DESCRIPTOR descriptor)
{
    return Run([&]() -> LONG {
        TVault &vault = Vault();
        TLockGuard guard(vault.Lock());
        std::optional<uint32_t> intent;
        TSecurityChange change;
        if (vault.MustRecord() && SelfRelative(descriptor, change.after)) {
            change.key = Known(Resolve(key, nullptr, 0));
            change.information = information & kRecordedSecurity;
            LONG status = ReadSecurity(key, change.information, change.before);
            if (status == ERROR_ACCESS_DENIED) {
                TRegKey reader;
                const REGSAM access =
                    READ_CONTROL |
                    ((change.information & SACL_SECURITY_INFORMATION) ? ACCESS_SYSTEM_SECURITY : 0);
                status = OpenLocation(change.key, access, reader);
                if (status == ERROR_SUCCESS) {
                    status = ReadSecurity(reader.get(), change.information, change.before);
                }
            }
            if (status != ERROR_SUCCESS) {
                throw EBackvault(WithSystemMessage(L"Cannot read the security of " + Describe(change.key) +
                                                       L" to record it before the change",
                                                   static_cast<DWORD>(status)),
                                 static_cast<DWORD>(status));
            }
            intent = vault.RecordChange(TRecordKind::SetKeySecurity, Encode(change));
        }
        const LONG status = ::RegSetKeySecurity(key, information, descriptor);
        if (intent) {
            vault.RecordOutcome(TOutcome{*intent, static_cast<uint32_t>(status), false, {}});
        }
        return status;
    });
}

} // namespace tidyhive::backvault
