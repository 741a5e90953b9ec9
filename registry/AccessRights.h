// Access rights and ownership of registry keys: the current user's effective rights, the
// locked-key test, and making a key deletable for the current user.
//
// Every function addresses the key through a handle opened in the registry view the caller
// names (view: KEY_WOW64_64KEY, KEY_WOW64_32KEY or 0), since by name a 32-bit process
// reaches the 32-bit view only.
#pragma once

#include "registry/RegAccessRoute.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tidyhive {

// DELETE, READ_CONTROL, KEY_CREATE_SUB_KEY and KEY_SET_VALUE.
inline constexpr ACCESS_MASK kUnlockedKeyRights = 0x30006;
// What the current user's own entry grants: all standard and specific rights.
inline constexpr ACCESS_MASK kCurrentUserEntryRights = 0x1F01FF;

// The rights the current user holds on the key (its access list and ownership taken into
// account); 0 when they cannot be determined, which includes every key under a root without
// a security name (HKEY_PERFORMANCE_DATA, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA).
ACCESS_MASK GetRegKeyEffectiveRights(const std::wstring& path, REGSAM view = 0);

// Whether the current user may delete the key: DELETE, READ_CONTROL and KEY_CREATE_SUB_KEY
// (KEY_SET_VALUE is not required). Writes "Locked key: <path>" to the debug log otherwise.
bool IsRegKeyUnlocked(const std::wstring& path, REGSAM view = 0);
// The same for a key already open (with READ_CONTROL; otherwise path and view are opened).
bool IsRegKeyUnlocked(HKEY key, const std::wstring& path, REGSAM view);

// One access-control entry, kept exactly as it was read (any type, with its flags, mask and
// SID), or built as an allowing entry.
class TACEntry {
public:
    explicit TACEntry(const ACE_HEADER* ace);
    TACEntry(PSID sid, ACCESS_MASK mask, BYTE flags);

    BYTE Type() const { return Header()->AceType; }
    BYTE Flags() const { return Header()->AceFlags; }
    ACCESS_MASK Mask() const;
    // Null for an entry too short to hold one.
    PSID Sid() const;
    DWORD SidLength() const;
    const ACE_HEADER* Header() const { return reinterpret_cast<const ACE_HEADER*>(ace_.data()); }
    WORD Size() const { return Header()->AceSize; }

private:
    std::vector<DWORD> ace_;  // DWORD-aligned, as an access list holds its entries
};

class TFilesAccessRights {
public:
    // route carries the owner and access-list changes, so that the backup session records
    // what they replace and undo restores it; null: the plain registry functions.
    explicit TFilesAccessRights(const TRegAccessRoute* route = nullptr);
    TFilesAccessRights(const TFilesAccessRights&) = delete;
    TFilesAccessRights& operator=(const TFilesAccessRights&) = delete;

    // Whether the key opens with KEY_ALL_ACCESS in the view (plain registry, nothing recorded).
    bool RegKeyHasFullAccess(HKEY root, const std::wstring& key, REGSAM view = 0) const;
    // Adds an entry granting the current user full access in front of the key's access list
    // (every earlier entry is kept as it is); when the list may not be written, takes
    // ownership of the key first (with the take-ownership privilege) and tries again.
    // Answers whether the list was written. Leaves a list that cannot be read alone. Raises
    // ERegistryException ("Unknown reg root: ...") for a root without a security name.
    bool GrantRegKeyFullAccess(HKEY root, const std::wstring& key, REGSAM view = 0);

    // "MACHINE\<key>" and the like; raises ERegistryException for another root.
    static std::wstring RegRootToObjectName(HKEY root, const std::wstring& key);

    // Empty when the current user's SID could not be read: nothing can be granted then.
    const std::optional<TACEntry>& CurrentUserEntry() const { return currentUser_; }
    // The entries last read and the object they were read from.
    const std::wstring& EntryListName() const { return entryListName_; }
    const std::vector<TACEntry>& EntryList() const { return entries_; }
    const std::wstring& ObjectName() const { return objectName_; }
    BYTE ObjectKind() const { return objectKind_; }

private:
    bool GrantAccess();
    bool TakeOwnership();

    TRegAccessRoute plainRoute_{nullptr};
    const TRegAccessRoute& route_;
    std::optional<TACEntry> currentUser_;
    std::wstring entryListName_;
    std::vector<TACEntry> entries_;
    std::wstring objectName_;
    BYTE objectKind_ = 0;  // SE_REGISTRY_KEY once a key is worked on
    HKEY root_ = nullptr;
    std::wstring key_;
    REGSAM view_ = 0;
};

// Enables a privilege of the process token; true only when it is held and now enabled.
bool EnableProcessPrivilege(const wchar_t* name);

}  // namespace tidyhive
