#include "registry/AccessRights.h"

#include "registry/RegKey.h"
#include "registry/RegistryException.h"
#include "registry/RegistryPaths.h"
#include "registry/SecurityObjects.h"
#include "services/DebugLog.h"
#include "services/Text.h"

#include <aclapi.h>

#include <algorithm>
#include <cstring>

namespace tidyhive {
namespace {

bool IsObjectAce(BYTE type)
{
    switch (type) {
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_AUDIT_CALLBACK_OBJECT_ACE_TYPE:
    case SYSTEM_ALARM_CALLBACK_OBJECT_ACE_TYPE:
        return true;
    default:
        return false;
    }
}

// Where the SID starts inside an entry: after header and mask, and for the object types
// after their flags and the object GUIDs they carry.
size_t SidOffset(const ACE_HEADER* header)
{
    constexpr size_t kMaskEnd = sizeof(ACE_HEADER) + sizeof(ACCESS_MASK);
    if (!IsObjectAce(header->AceType)) {
        return kMaskEnd;
    }
    if (header->AceSize < kMaskEnd + sizeof(DWORD)) {
        return header->AceSize;
    }
    DWORD flags = 0;
    std::memcpy(&flags, reinterpret_cast<const BYTE*>(header) + kMaskEnd, sizeof(flags));
    size_t offset = kMaskEnd + sizeof(DWORD);
    if (flags & ACE_OBJECT_TYPE_PRESENT) {
        offset += sizeof(GUID);
    }
    if (flags & ACE_INHERITED_OBJECT_TYPE_PRESENT) {
        offset += sizeof(GUID);
    }
    return offset;
}

// The current user's SID, or nothing when the token cannot tell.
std::optional<std::vector<BYTE>> ReadCurrentUserSid()
{
    const TAccessToken token = TAccessToken::OfProcess(TOKEN_QUERY);
    if (!token) {
        return std::nullopt;
    }
    DWORD size = 0;
    if (GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return std::nullopt;
    }
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    if (!GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
        return std::nullopt;
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    if (!IsValidSid(sid)) {
        return std::nullopt;
    }
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return std::vector<BYTE>(bytes, bytes + GetLengthSid(sid));
}

}  // namespace

namespace {

// The current user's access check against one key's security, read once.
class TKeyAccessCheck {
public:
    // key must be open with READ_CONTROL; Valid() tells whether the check can answer.
    explicit TKeyAccessCheck(HKEY key)
    {
        // Read into a buffer that fits nearly every key's security at once; grown when not.
        constexpr SECURITY_INFORMATION kParts =
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        DWORD size = 1024;
        for (int attempt = 0; attempt < 3; ++attempt) {
            descriptor_.assign(size, 0);
            const LONG status = RegGetKeySecurity(key, kParts, descriptor_.data(), &size);
            if (status == ERROR_SUCCESS) {
                break;
            }
            descriptor_.clear();
            if (status != ERROR_INSUFFICIENT_BUFFER) {
                return;
            }
        }
        token_ = IdentificationToken();
    }

    bool Valid() const { return !descriptor_.empty() && token_; }

    // Whether every one of rights is granted.
    bool Grants(ACCESS_MASK rights) const
    {
        GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
        DWORD privileges[16] = {};
        DWORD privilegesLength = sizeof(privileges);
        DWORD granted = 0;
        BOOL status = FALSE;
        return Valid() &&
               AccessCheck(const_cast<BYTE*>(descriptor_.data()), token_, rights, &mapping,
                           reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesLength, &granted,
                           &status) &&
               status;
    }

private:
    // The process token as an identification token, made once per thread: a scan checks
    // thousands of keys against the same user.
    static HANDLE IdentificationToken()
    {
        thread_local TAccessToken token = [] {
            const TAccessToken process = TAccessToken::OfProcess(TOKEN_QUERY | TOKEN_DUPLICATE);
            HANDLE duplicate = nullptr;
            return process && DuplicateToken(process.Get(), SecurityIdentification, &duplicate)
                       ? TAccessToken(duplicate)
                       : TAccessToken();
        }();
        return token.Get();
    }

    std::vector<BYTE> descriptor_;
    HANDLE token_ = nullptr;
};

// DELETE, READ_CONTROL and KEY_CREATE_SUB_KEY: what deleting the key needs.
constexpr ACCESS_MASK kDeletableKeyRights = kUnlockedKeyRights & ~static_cast<ACCESS_MASK>(KEY_SET_VALUE);

bool ReportUnlocked(bool unlocked, const std::wstring& path)
{
    if (!unlocked) {
        DebugLog::Log(L"Locked key: " + path);
    }
    return unlocked;
}

}  // namespace

ACCESS_MASK GetRegKeyEffectiveRights(const std::wstring& path, REGSAM view)
{
    if (RegPathToSecurityName(path).empty()) {
        return 0;
    }
    TRegKey key;
    if (key.Open(ExtractRootFromKey(path), ExtractKeyWithotRoot(path).c_str(), READ_CONTROL | view) !=
        ERROR_SUCCESS) {
        return 0;
    }
    const TKeyAccessCheck check(key.Get());
    // One right at a time: Wine applies denying entries to a MAXIMUM_ALLOWED check wherever
    // they stand in the list, whereas Windows lets an earlier allowing entry win; a check per
    // right answers alike on both.
    constexpr ACCESS_MASK kRights[] = {KEY_QUERY_VALUE,
                                       KEY_SET_VALUE,
                                       KEY_CREATE_SUB_KEY,
                                       KEY_ENUMERATE_SUB_KEYS,
                                       KEY_NOTIFY,
                                       KEY_CREATE_LINK,
                                       DELETE,
                                       READ_CONTROL,
                                       WRITE_DAC,
                                       WRITE_OWNER};
    ACCESS_MASK rights = 0;
    for (ACCESS_MASK right : kRights) {
        if (check.Grants(right)) {
            rights |= right;
        }
    }
    return rights;
}

// A check for several named rights at once grants them exactly when a check per right
// grants each, on Windows and on Wine alike: every denying entry is weighed against the
// rights not yet granted when it is reached.
bool IsRegKeyUnlocked(const std::wstring& path, REGSAM view)
{
    if (RegPathToSecurityName(path).empty()) {
        return ReportUnlocked(false, path);
    }
    TRegKey key;
    if (key.Open(ExtractRootFromKey(path), ExtractKeyWithotRoot(path).c_str(), READ_CONTROL | view) !=
        ERROR_SUCCESS) {
        return ReportUnlocked(false, path);
    }
    return ReportUnlocked(TKeyAccessCheck(key.Get()).Grants(kDeletableKeyRights), path);
}

bool IsRegKeyUnlocked(HKEY key, const std::wstring& path, REGSAM view)
{
    if (RegPathToSecurityName(path).empty()) {
        return ReportUnlocked(false, path);
    }
    const TKeyAccessCheck check(key);
    if (!check.Valid()) {
        return IsRegKeyUnlocked(path, view);  // a handle without READ_CONTROL
    }
    return ReportUnlocked(check.Grants(kDeletableKeyRights), path);
}

TACEntry::TACEntry(const ACE_HEADER* ace) : ace_((ace->AceSize + sizeof(DWORD) - 1) / sizeof(DWORD))
{
    std::memcpy(ace_.data(), ace, ace->AceSize);
}

TACEntry::TACEntry(PSID sid, ACCESS_MASK mask, BYTE flags)
{
    const DWORD sidLength = GetLengthSid(sid);
    const size_t size = offsetof(ACCESS_ALLOWED_ACE, SidStart) + sidLength;
    ace_.assign((size + sizeof(DWORD) - 1) / sizeof(DWORD), 0);
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace_.data());
    ace->Header.AceType = ACCESS_ALLOWED_ACE_TYPE;
    ace->Header.AceFlags = flags;
    ace->Header.AceSize = static_cast<WORD>(ace_.size() * sizeof(DWORD));
    ace->Mask = mask;
    CopySid(sidLength, &ace->SidStart, sid);
}

ACCESS_MASK TACEntry::Mask() const
{
    if (Size() < sizeof(ACE_HEADER) + sizeof(ACCESS_MASK)) {
        return 0;
    }
    ACCESS_MASK mask = 0;
    std::memcpy(&mask, reinterpret_cast<const BYTE*>(ace_.data()) + sizeof(ACE_HEADER), sizeof(mask));
    return mask;
}

PSID TACEntry::Sid() const
{
    const size_t offset = SidOffset(Header());
    if (offset + 8 > Size()) {  // a SID takes at least 8 bytes
        return nullptr;
    }
    auto* sid = reinterpret_cast<BYTE*>(const_cast<DWORD*>(ace_.data())) + offset;
    return IsValidSid(sid) && offset + GetLengthSid(sid) <= Size() ? sid : nullptr;
}

DWORD TACEntry::SidLength() const
{
    const PSID sid = Sid();
    return sid ? GetLengthSid(sid) : 0;
}

TFilesAccessRights::TFilesAccessRights(const TRegAccessRoute* route) : route_(route ? *route : plainRoute_)
{
    if (auto sid = ReadCurrentUserSid()) {
        currentUser_.emplace(sid->data(), kCurrentUserEntryRights,
                             static_cast<BYTE>(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));
    }
}

bool TFilesAccessRights::RegKeyHasFullAccess(HKEY root, const std::wstring& key, REGSAM view) const
{
    TRegKey opened;
    return opened.Open(root, key.c_str(), KEY_ALL_ACCESS | view) == ERROR_SUCCESS;
}

std::wstring TFilesAccessRights::RegRootToObjectName(HKEY root, const std::wstring& key)
{
    if (root == HKEY_CLASSES_ROOT) {
        return L"CLASSES_ROOT\\" + key;
    }
    if (root == HKEY_CURRENT_USER) {
        return L"CURRENT_USER\\" + key;
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return L"MACHINE\\" + key;
    }
    if (root == HKEY_USERS) {
        return L"USERS\\" + key;
    }
    // Predefined handles are 32-bit values, sign-extended in a 64-bit process.
    const auto value = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(root));
    throw ERegistryException(L"Unknown reg root: " + std::to_wstring(value));
}

bool TFilesAccessRights::GrantRegKeyFullAccess(HKEY root, const std::wstring& key, REGSAM view)
{
    objectName_ = RegRootToObjectName(root, key);
    objectKind_ = SE_REGISTRY_KEY;
    root_ = root;
    key_ = key;
    view_ = view & (KEY_WOW64_64KEY | KEY_WOW64_32KEY);
    if (!currentUser_) {
        return false;
    }
    if (GrantAccess()) {
        return true;
    }
    return TakeOwnership() && GrantAccess();
}

bool TFilesAccessRights::GrantAccess()
{
    TRoutedKey key;
    if (key.Open(route_, root_, key_, READ_CONTROL | WRITE_DAC | view_) != ERROR_SUCCESS) {
        return false;
    }
    PACL list = nullptr;
    TLocalMemory<void> descriptor;
    if (GetSecurityInfo(key.Get(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &list,
                        nullptr, descriptor.Out()) != ERROR_SUCCESS) {
        return false;  // a list that cannot be read is left as it is
    }
    entries_.clear();
    entryListName_ = objectName_;
    if (!list) {
        return true;  // no list at all: everyone has full access already
    }
    for (DWORD index = 0; index < list->AceCount; ++index) {
        void* ace = nullptr;
        if (!GetAce(list, index, &ace)) {
            return false;  // never write a list that lost an entry
        }
        entries_.emplace_back(static_cast<const ACE_HEADER*>(ace));
    }

    // The user's entry goes first: an allowing entry behind a denying one that names the
    // user (or one of the user's groups) would grant nothing.
    size_t size = sizeof(ACL) + currentUser_->Size();
    for (const TACEntry& entry : entries_) {
        size += entry.Size();
    }
    if (size > MAXWORD) {
        return false;
    }
    const DWORD revision = std::max<DWORD>(list->AclRevision, ACL_REVISION);
    std::vector<DWORD> buffer((size + sizeof(DWORD) - 1) / sizeof(DWORD));
    auto* newList = reinterpret_cast<PACL>(buffer.data());
    if (!InitializeAcl(newList, static_cast<DWORD>(size), revision) ||
        !AddAce(newList, revision, MAXDWORD, const_cast<ACE_HEADER*>(currentUser_->Header()),
                currentUser_->Size())) {
        return false;
    }
    for (const TACEntry& entry : entries_) {
        if (!AddAce(newList, revision, MAXDWORD, const_cast<ACE_HEADER*>(entry.Header()), entry.Size())) {
            return false;
        }
    }

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD descriptorRevision = 0;
    GetSecurityDescriptorControl(descriptor.Get(), &control, &descriptorRevision);
    SECURITY_DESCRIPTOR newDescriptor;
    constexpr SECURITY_DESCRIPTOR_CONTROL kKeptBits = SE_DACL_AUTO_INHERITED | SE_DACL_PROTECTED;
    if (!InitializeSecurityDescriptor(&newDescriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&newDescriptor, TRUE, newList, FALSE) ||
        !SetSecurityDescriptorControl(&newDescriptor, kKeptBits, control & kKeptBits)) {
        return false;
    }
    return route_.SetKeySecurity(key.Get(), DACL_SECURITY_INFORMATION, &newDescriptor) == ERROR_SUCCESS;
}

bool TFilesAccessRights::TakeOwnership()
{
    // Where the privilege is not held, an access list that grants WRITE_OWNER still may.
    EnableProcessPrivilege(SE_TAKE_OWNERSHIP_NAME);
    TRoutedKey key;
    // READ_CONTROL lets the backup library read the owner it replaces; it may be refused.
    if (key.Open(route_, root_, key_, WRITE_OWNER | READ_CONTROL | view_) != ERROR_SUCCESS &&
        key.Open(route_, root_, key_, WRITE_OWNER | view_) != ERROR_SUCCESS) {
        return false;
    }
    SECURITY_DESCRIPTOR descriptor;
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorOwner(&descriptor, currentUser_->Sid(), FALSE)) {
        return false;
    }
    return route_.SetKeySecurity(key.Get(), OWNER_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
}

bool EnableProcessPrivilege(const wchar_t* name)
{
    const TAccessToken token = TAccessToken::OfProcess(TOKEN_ADJUST_PRIVILEGES);
    if (!token) {
        return false;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, name, &privileges.Privileges[0].Luid)) {
        return false;
    }
    // Succeeds without enabling anything when the privilege is not held.
    return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;
}

}  // namespace tidyhive
