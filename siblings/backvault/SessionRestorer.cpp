#include "siblings/backvault/SessionRestorer.h"

#include "siblings/backvault/BackvaultError.h"
#include "siblings/backvault/FileState.h"
#include "siblings/backvault/RegistryState.h"
#include "siblings/backvault/SessionStore.h"

#include <set>

namespace tidyhive::backvault {
namespace {

std::wstring Lower(const std::wstring &text)
{
    std::wstring lower = text;
    if (!lower.empty()) {
        CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
    }
    return lower;
}

bool SameKey(const TRegLocation &left, const TRegLocation &right)
{
    return left.root == right.root && left.view == right.view && Lower(left.path) == Lower(right.path);
}

TRegLocation Child(const TRegLocation &parent, const std::wstring &name)
{
    TRegLocation child = parent;
    child.path = parent.path.empty() ? name : parent.path + L"\\" + name;
    return child;
}

// Owner, backup and restore rights for this thread while security is put back; nothing
// when the thread already impersonates someone (that token is not ours to change).
class TPrivilegeScope {
public:
    TPrivilegeScope()
    {
        HANDLE existing = nullptr;
        if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &existing)) {
            CloseHandle(existing);
            return;
        }
        if (!ImpersonateSelf(SecurityImpersonation)) {
            return;
        }
        impersonating_ = true;
        HANDLE token = nullptr;
        if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, TRUE, &token)) {
            return;
        }
        TFileHandle owner(token);
        for (const wchar_t *name :
             {SE_RESTORE_NAME, SE_BACKUP_NAME, SE_TAKE_OWNERSHIP_NAME, SE_SECURITY_NAME}) {
            TOKEN_PRIVILEGES privileges = {};
            privileges.PrivilegeCount = 1;
            privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
            if (LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
                AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
            }
        }
    }
    ~TPrivilegeScope()
    {
        if (impersonating_) {
            RevertToSelf();
        }
    }
    TPrivilegeScope(const TPrivilegeScope &) = delete;
    TPrivilegeScope &operator=(const TPrivilegeScope &) = delete;

private:
    bool impersonating_ = false;
};

class TSessionRestorer {
public:
    TSessionRestorer(const std::wstring &storage, const std::wstring &id, bool overwrite)
        : storage_(storage), id_(id), overwrite_(overwrite)
    {
    }

    TRestoreResult Run()
    {
        TStoredSession session;
        try {
            session = LoadSession(storage_, id_, true);
        } catch (const EBackvault &error) {
            TRestoreResult result;
            result.status = HRESULT_FROM_WIN32(error.Code());
            result.report = error.Message() + L". Nothing was restored.\r\n";
            SetLastErrorText(error.Message() + L". Nothing was restored.");
            return result;
        }
        folder_ = SessionFolder(storage_, id_);
        Line(L"Session " + id_ + (session.summary.title.empty() ? L"" : L": " + session.summary.title));
        if (!session.summary.complete) {
            Line(
                L"The session was not closed normally (the recording program stopped during its work); every "
                L"change it recorded is undone.");
        }
        if (session.tornTail) {
            Line(L"The journal ends in an incomplete record; the change it was to describe was never made.");
        }
        outcomes_ = &session.outcomes;
        for (const TStoredChange &change : session.changes) {
            Remember(change);
        }

        // Backwards, except that a run of changes to different values of one key is put back
        // in its original order (the values then enumerate as they did).
        const std::vector<TStoredChange> &changes = session.changes;
        size_t end = changes.size();
        while (end > 0) {
            size_t start = end - 1;
            if (const auto *first = std::get_if<TValueChange>(&changes[start].change)) {
                std::set<std::wstring> names = {Lower(first->name)};
                while (start > 0) {
                    const auto *previous = std::get_if<TValueChange>(&changes[start - 1].change);
                    if (!previous || !SameKey(previous->key, first->key) ||
                        !names.insert(Lower(previous->name)).second) {
                        break;
                    }
                    --start;
                }
            }
            for (size_t index = start; index < end; ++index) {
                Undo(changes[index]);
            }
            end = start;
        }

        Line(L"Restored: " + std::to_wstring(restored_) + L", already in place: " +
             std::to_wstring(already_) + L", conflicts" +
             (overwrite_ ? L" overwritten: " : L" left as they are: ") + std::to_wstring(conflicts_) +
             L", failed: " + std::to_wstring(failed_) + L".");
        TRestoreResult result;
        result.report = report_;
        result.status = failed_ ? E_FAIL : (conflicts_ && !overwrite_ ? S_FALSE : S_OK);
        if (failed_) {
            SetLastErrorText(L"Session " + id_ + L": " + std::to_wstring(failed_) +
                             L" change(s) could not be restored");
        }
        return result;
    }

private:
    // Earlier states of each value, key security and file: a state that some change before
    // this one replaced means a previous restore got further back already, which is no
    // conflict (restoring twice is harmless).
    static std::wstring ValueId(const TRegLocation &location, const std::wstring &name)
    {
        return std::to_wstring(location.root) + L"|" + std::to_wstring(location.view) + L"|" +
               Lower(location.path) + L"|" + Lower(name);
    }
    static std::wstring SecurityId(const TRegLocation &location, uint32_t information)
    {
        return ValueId(location, std::to_wstring(information));
    }
    static std::wstring FileId(const TFileEntry &entry)
    {
        return (entry.operation == TFileOperation::Attributes ? L"a|" : L"c|") + Lower(entry.path);
    }

    void RememberTree(uint32_t sequence, const TRegLocation &location, const TKeySnapshot &snapshot)
    {
        for (const TNamedValue &value : snapshot.values) {
            valueHistory_[ValueId(location, value.name)].push_back(
                {sequence, {true, value.type, value.data}});
        }
        for (const TKeySnapshot &subkey : snapshot.subkeys) {
            RememberTree(sequence, Child(location, subkey.name), subkey);
        }
    }

    void Remember(const TStoredChange &stored)
    {
        if (const auto *value = std::get_if<TValueChange>(&stored.change)) {
            valueHistory_[ValueId(value->key, value->name)].push_back({stored.sequence, value->before});
        } else if (const auto *deletion = std::get_if<TKeyDeletion>(&stored.change)) {
            RememberTree(stored.sequence, deletion->key, deletion->snapshot);
        } else if (const auto *security = std::get_if<TSecurityChange>(&stored.change)) {
            securityHistory_[SecurityId(security->key, security->information)].push_back(
                {stored.sequence, security->before});
        } else if (const auto *files = std::get_if<TFileChange>(&stored.change)) {
            for (const TFileEntry &entry : files->entries) {
                fileHistory_[FileId(entry)].push_back({stored.sequence, entry.before});
            }
        }
    }

    template <class State, class Same>
    bool Earlier(const std::map<std::wstring, std::vector<std::pair<uint32_t, State>>> &history,
                 const std::wstring &id, const Same &same) const
    {
        const auto found = history.find(id);
        if (found == history.end()) {
            return false;
        }
        for (const auto &[sequence, state] : found->second) {
            if (sequence < sequence_ && same(state)) {
                return true;
            }
        }
        return false;
    }

    bool EarlierValue(const TRegLocation &location, const std::wstring &name,
                      const TValueState &current) const
    {
        return Earlier(valueHistory_, ValueId(location, name),
                       [&](const TValueState &state) { return state == current; });
    }

    void Line(const std::wstring &text) { report_ += text + L"\r\n"; }
    void Restored(const std::wstring &text)
    {
        ++restored_;
        Line(text);
    }
    void Failed(const std::wstring &text, DWORD code)
    {
        ++failed_;
        Line(L"Failed: " + WithSystemMessage(text, code));
    }
    // A later edit: overwritten only when asked. Answers whether to put the state back.
    bool Conflict(const std::wstring &what)
    {
        ++conflicts_;
        if (overwrite_) {
            Line(L"Conflict: " + what + L" was changed after the session; overwritten.");
            return true;
        }
        Line(L"Conflict: " + what + L" was changed after the session; left as it is.");
        return false;
    }

    void Undo(const TStoredChange &stored)
    {
        const auto outcome = outcomes_->find(stored.sequence);
        if (outcome != outcomes_->end() && outcome->second.status != ERROR_SUCCESS) {
            return; // the change failed: nothing to undo
        }
        const TOutcome *made = outcome == outcomes_->end() ? nullptr : &outcome->second;
        sequence_ = stored.sequence;
        std::visit(
            [&](const auto &change) {
                using T = std::decay_t<decltype(change)>;
                if constexpr (std::is_same_v<T, TValueChange>) {
                    UndoValue(change, made);
                } else if constexpr (std::is_same_v<T, TKeyCreation>) {
                    UndoKeyCreation(change);
                } else if constexpr (std::is_same_v<T, TKeyDeletion>) {
                    UndoKeyDeletion(change);
                } else if constexpr (std::is_same_v<T, TSecurityChange>) {
                    UndoSecurity(change);
                } else {
                    UndoFiles(change);
                }
            },
            stored.change);
    }

    LONG PutValue(const TRegLocation &location, const std::wstring &name, const TValueState &state)
    {
        TRegKey key;
        if (state.present) {
            LONG status = OpenLocation(location, KEY_SET_VALUE, key);
            if (status == ERROR_FILE_NOT_FOUND) {
                status = CreateLocation(location, L"", key);
            }
            return status == ERROR_SUCCESS ? WriteValue(key.get(), name, state.type, state.data) : status;
        }
        LONG status = OpenLocation(location, KEY_SET_VALUE, key);
        if (status == ERROR_FILE_NOT_FOUND) {
            return ERROR_SUCCESS;
        }
        if (status == ERROR_SUCCESS) {
            status = RegDeleteValueW(key.get(), name.c_str());
        }
        return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
    }

    void UndoValue(const TValueChange &change, const TOutcome *made)
    {
        const std::wstring what = DescribeValue(change.key, change.name);
        TValueState current;
        const LONG read = ReadValueAt(change.key, change.name, current);
        if (read != ERROR_SUCCESS) {
            Failed(L"Cannot read the " + what, static_cast<DWORD>(read));
            return;
        }
        if (current == change.before || EarlierValue(change.key, change.name, current)) {
            ++already_;
            return;
        }
        const bool asLeft = current == change.after || (made && made->hasStored && current == made->stored);
        if (!asLeft && !Conflict(what)) {
            return;
        }
        const LONG status = PutValue(change.key, change.name, change.before);
        if (status != ERROR_SUCCESS) {
            Failed(L"Cannot restore the " + what, static_cast<DWORD>(status));
            return;
        }
        Restored(change.before.present ? L"Restored the " + what
                                       : L"Removed the " + what + L", added by the session");
    }

    void UndoKeyCreation(const TKeyCreation &change)
    {
        const std::vector<std::wstring> names = SplitPath(change.key.path);
        bool anything = false;
        for (size_t depth = names.size(); depth > change.existingDepth; --depth) {
            TRegLocation location = change.key;
            location.path = JoinPath(names, depth);
            TRegKey key;
            LONG status = OpenLocation(location, KEY_READ, key);
            if (status == ERROR_FILE_NOT_FOUND) {
                continue;
            }
            anything = true;
            bool empty = false;
            if (status == ERROR_SUCCESS) {
                status = IsKeyEmpty(key.get(), empty);
            }
            if (status != ERROR_SUCCESS) {
                Failed(L"Cannot read the key " + Describe(location), static_cast<DWORD>(status));
                return;
            }
            key.Reset();
            if (!empty) {
                if (!Conflict(L"the key " + Describe(location) + L", created by the session,")) {
                    return; // its parents are not empty either
                }
                TRegKey tree;
                status = OpenLocation(location, KEY_ALL_ACCESS, tree);
                if (status == ERROR_SUCCESS) {
                    status = RegDeleteTreeW(tree.get(), nullptr);
                }
                if (status != ERROR_SUCCESS) {
                    Failed(L"Cannot empty the key " + Describe(location), static_cast<DWORD>(status));
                    return;
                }
            }
            status = RegDeleteKeyExW(RootHandle(location.root), location.path.c_str(), location.view, 0);
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
                Failed(L"Cannot remove the key " + Describe(location), static_cast<DWORD>(status));
                return;
            }
            Restored(L"Removed the key " + Describe(location) + L", created by the session");
        }
        if (!anything) {
            ++already_;
        }
    }

    struct TTreeCount {
        size_t keys = 0;
        size_t values = 0;
    };

    // Creates a missing key with everything it held, security last (it may shut us out).
    LONG CreateTree(const TRegLocation &location, const TKeySnapshot &snapshot, TTreeCount &count)
    {
        TRegKey key;
        LONG status = CreateLocation(location, snapshot.keyClass, key);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        ++count.keys;
        for (const TNamedValue &value : snapshot.values) {
            status = WriteValue(key.get(), value.name, value.type, value.data);
            if (status != ERROR_SUCCESS) {
                return status;
            }
            ++count.values;
        }
        for (const TKeySnapshot &subkey : snapshot.subkeys) {
            status = MergeTree(Child(location, subkey.name), subkey, count);
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
        PutSecurity(key.get(), location, snapshot.security);
        return ERROR_SUCCESS;
    }

    void PutSecurity(HKEY key, const TRegLocation &location, const TBytes &security)
    {
        if (security.empty()) {
            return;
        }
        TBytes current;
        if (ReadSecurity(key, kSnapshotSecurity, current) == ERROR_SUCCESS &&
            SameSecurity(current, security, kSnapshotSecurity)) {
            return;
        }
        TPrivilegeScope privileges;
        auto *descriptor = const_cast<uint8_t *>(security.data());
        const LONG status = RegSetKeySecurity(key, kSnapshotSecurity, descriptor);
        if (status != ERROR_SUCCESS) {
            // An owner we may not assign; the access list matters more.
            const LONG list = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
            Failed(L"Cannot restore the " +
                       std::wstring(list == ERROR_SUCCESS ? L"owner" : L"owner and permissions") +
                       L" of the key " + Describe(location),
                   static_cast<DWORD>(list == ERROR_SUCCESS ? status : list));
        }
    }

    // Puts a deleted key back: a missing key whole, an existing one value by value.
    LONG MergeTree(const TRegLocation &location, const TKeySnapshot &snapshot, TTreeCount &count)
    {
        bool exists = false;
        LONG status = ProbeKey(location, exists);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (!exists) {
            return CreateTree(location, snapshot, count);
        }
        for (const TNamedValue &value : snapshot.values) {
            TValueState recorded;
            recorded.present = true;
            recorded.type = value.type;
            recorded.data = value.data;
            TValueState current;
            status = ReadValueAt(location, value.name, current);
            if (status != ERROR_SUCCESS) {
                return status;
            }
            if (current == recorded || EarlierValue(location, value.name, current)) {
                continue;
            }
            if (current.present && !Conflict(DescribeValue(location, value.name))) {
                continue;
            }
            status = PutValue(location, value.name, recorded);
            if (status != ERROR_SUCCESS) {
                return status;
            }
            ++count.values;
        }
        for (const TKeySnapshot &subkey : snapshot.subkeys) {
            status = MergeTree(Child(location, subkey.name), subkey, count);
            if (status != ERROR_SUCCESS) {
                return status;
            }
        }
        return ERROR_SUCCESS;
    }

    void UndoKeyDeletion(const TKeyDeletion &change)
    {
        TTreeCount count;
        const LONG status = MergeTree(change.key, change.snapshot, count);
        if (status != ERROR_SUCCESS) {
            Failed(L"Cannot restore the key " + Describe(change.key), static_cast<DWORD>(status));
            return;
        }
        if (count.keys == 0 && count.values == 0) {
            ++already_;
            return;
        }
        Restored(L"Restored the key " + Describe(change.key) +
                 (count.keys > 1 || count.values ? L" (" + std::to_wstring(count.keys) + L" key(s), " +
                                                       std::to_wstring(count.values) + L" value(s))"
                                                 : L""));
    }

    void UndoSecurity(const TSecurityChange &change)
    {
        const std::wstring what = L"the owner and permissions of " + Describe(change.key);
        TPrivilegeScope privileges;
        REGSAM access = READ_CONTROL | WRITE_DAC | WRITE_OWNER;
        if (change.information & SACL_SECURITY_INFORMATION) {
            access |= ACCESS_SYSTEM_SECURITY;
        }
        TRegKey key;
        LONG status = OpenLocation(change.key, access, key);
        if (status == ERROR_ACCESS_DENIED) {
            status = RegOpenKeyExW(RootHandle(change.key.root), change.key.path.c_str(),
                                   REG_OPTION_BACKUP_RESTORE, access | change.key.view, key.Receive());
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            ++conflicts_;
            Line(L"Conflict: the key " + Describe(change.key) +
                 L" no longer exists; its owner and permissions "
                 L"cannot be restored.");
            return;
        }
        TBytes current;
        if (status == ERROR_SUCCESS) {
            status = ReadSecurity(key.get(), change.information, current);
        }
        if (status != ERROR_SUCCESS) {
            Failed(L"Cannot read " + what, static_cast<DWORD>(status));
            return;
        }
        if (SameSecurity(current, change.before, change.information) ||
            Earlier(securityHistory_, SecurityId(change.key, change.information),
                    [&](const TBytes &state) { return SameSecurity(current, state, change.information); })) {
            ++already_;
            return;
        }
        if (!SameSecurity(current, change.after, change.information) && !Conflict(what)) {
            return;
        }
        status =
            RegSetKeySecurity(key.get(), change.information, const_cast<uint8_t *>(change.before.data()));
        if (status != ERROR_SUCCESS) {
            Failed(L"Cannot restore " + what, static_cast<DWORD>(status));
            return;
        }
        Restored(L"Restored " + what);
    }

    static bool Matches(const TFileState &current, const TFileState &expected, TFileOperation operation)
    {
        if (operation == TFileOperation::Attributes) {
            return current.kind != TFileKind::Absent &&
                   (current.attributes & kSettableAttributes) == (expected.attributes & kSettableAttributes);
        }
        return current.kind == expected.kind &&
               (current.kind != TFileKind::File ||
                (current.size == expected.size && current.crc == expected.crc));
    }

    // The kept copy of a file, inside this session's folder only.
    bool KeptPath(const std::wstring &blob, std::wstring &path) const
    {
        if (blob.empty() || blob.find(L"..") != std::wstring::npos || blob.find(L':') != std::wstring::npos ||
            blob.front() == L'\\' || blob.front() == L'/') {
            return false;
        }
        path = folder_ + L"\\" + blob;
        return true;
    }

    void UndoFiles(const TFileChange &change)
    {
        for (auto entry = change.entries.rbegin(); entry != change.entries.rend(); ++entry) {
            UndoFile(*entry);
        }
    }

    void UndoFile(const TFileEntry &entry)
    {
        const bool attributesOnly = entry.operation == TFileOperation::Attributes;
        TFileState current;
        DWORD status = ReadFileState(entry.path, !attributesOnly, current);
        if (status != ERROR_SUCCESS) {
            Failed(L"Cannot read " + entry.path, status);
            return;
        }
        if (Matches(current, entry.before, entry.operation) ||
            Earlier(fileHistory_, FileId(entry),
                    [&](const TFileState &state) { return Matches(current, state, entry.operation); })) {
            ++already_;
            return;
        }
        if (!Matches(current, entry.after, entry.operation) && !Conflict(entry.path)) {
            return;
        }
        std::wstring done;
        if (attributesOnly) {
            const DWORD attributes = entry.before.attributes & kSettableAttributes;
            status = SetFileAttributesW(entry.path.c_str(), attributes ? attributes : FILE_ATTRIBUTE_NORMAL)
                         ? ERROR_SUCCESS
                         : GetLastError();
            done = L"Restored the attributes of " + entry.path;
        } else if (entry.before.kind == TFileKind::Absent) {
            if (current.kind == TFileKind::Directory) {
                status = RemoveDirectoryW(entry.path.c_str()) ? ERROR_SUCCESS : GetLastError();
            } else if (current.kind == TFileKind::File) {
                status = RemoveFile(entry.path);
            }
            done = L"Removed " + entry.path + L", created by the session";
        } else if (entry.before.kind == TFileKind::Directory) {
            status = PutBackDirectory(entry.before, entry.path);
            done = L"Restored the folder " + entry.path;
        } else {
            std::wstring kept;
            if (!KeptPath(entry.before.blob, kept)) {
                Failed(L"The session names no valid kept copy of " + entry.path, ERROR_FILE_CORRUPT);
                return;
            }
            status = PutBackFile(kept, entry.before, entry.path);
            if (status == ERROR_FILE_CORRUPT) {
                Failed(L"The kept copy of " + entry.path + L" is damaged; the file was not restored", status);
                return;
            }
            done = L"Restored the file " + entry.path;
        }
        if (status != ERROR_SUCCESS) {
            Failed(L"Cannot restore " + entry.path, status);
            return;
        }
        Restored(done);
    }

    std::wstring storage_;
    std::wstring id_;
    std::wstring folder_;
    bool overwrite_;
    const std::map<uint32_t, TOutcome> *outcomes_ = nullptr;
    uint32_t sequence_ = 0; // of the change being undone
    std::map<std::wstring, std::vector<std::pair<uint32_t, TValueState>>> valueHistory_;
    std::map<std::wstring, std::vector<std::pair<uint32_t, TBytes>>> securityHistory_;
    std::map<std::wstring, std::vector<std::pair<uint32_t, TFileState>>> fileHistory_;
    std::wstring report_;
    size_t restored_ = 0;
    size_t already_ = 0;
    size_t conflicts_ = 0;
    size_t failed_ = 0;
};

} // namespace

TRestoreResult RestoreStoredSession(const std::wstring &storage, const std::wstring &id, bool overwrite)
{
    return TSessionRestorer(storage, id, overwrite).Run();
}

} // namespace tidyhive::backvault
