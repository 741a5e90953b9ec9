// Damaged journals: a restore names the session and the damage, touches nothing, and
// leaves every other session as it was. Only an unsealed journal (its program stopped in
// the middle of a session) may end in one incomplete record, which is ignored.
#include "tests/support/BackvaultTesting.h"
#include "tests/support/TestRegistry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace tidyhive::testing {
namespace {

uint32_t Crc(const uint8_t *data, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t index = 0; index < size; ++index) {
        crc ^= data[index];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
        }
    }
    return ~crc;
}

void WriteBytes(const std::wstring &path, const std::vector<uint8_t> &bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

// Offsets of the records: 8 bytes of signature, then (size, size check, body check, body).
std::vector<size_t> RecordOffsets(const std::vector<uint8_t> &journal)
{
    std::vector<size_t> offsets;
    size_t offset = 8;
    while (offset + 12 <= journal.size()) {
        uint32_t size = 0;
        std::memcpy(&size, journal.data() + offset, 4);
        offsets.push_back(offset);
        offset += 12 + size;
    }
    return offsets;
}

struct TSessionFiles {
    std::wstring journal;
    std::wstring seal;
};

struct TDamage {
    const char *name;
    std::function<void(const TSessionFiles &)> apply;
    HRESULT expected;          // of the restore
    const wchar_t *reportPart; // a part of the report
};

void PrintTo(const TDamage &damage, std::ostream *out)
{
    *out << damage.name;
}

class BackvaultJournal : public ::testing::TestWithParam<TDamage> {};

TEST_P(BackvaultJournal, DamageIsNamedAndNothingIsTouched)
{
    const TDamage &damage = GetParam();
    TTestFolder storage;
    TBackvaultInstance backvault(storage.Path() + L"Sessions");
    // Two sessions, each removing its own tree; the first gets damaged.
    TTestKey damagedKey(L"Damaged", true);
    TTestKey otherKey(L"Other", true);
    CreateTestTree(HKEY_CURRENT_USER, damagedKey.SubPath() + L"\\Tree", KEY_WOW64_64KEY, L"damaged");
    CreateTestTree(HKEY_CURRENT_USER, otherKey.SubPath() + L"\\Tree", KEY_WOW64_64KEY, L"other");
    const std::wstring otherBefore =
        DumpTree(HKEY_CURRENT_USER, otherKey.SubPath() + L"\\Tree", KEY_WOW64_64KEY);
    const std::wstring damagedBefore =
        DumpTree(HKEY_CURRENT_USER, damagedKey.SubPath() + L"\\Tree", KEY_WOW64_64KEY);
    std::wstring ids[2];
    const TTestKey *keys[2] = {&damagedKey, &otherKey};
    for (int index = 0; index < 2; ++index) {
        ids[index] = backvault.Begin();
        ASSERT_TRUE(DeleteLikeEngine(backvault.reg(), HKEY_CURRENT_USER, keys[index]->SubPath() + L"\\Tree",
                                     KEY_ALL_ACCESS | KEY_WOW64_64KEY));
        ASSERT_EQ(backvault->EndSession(TRUE), 1);
    }
    const std::wstring folder = storage.Path() + L"Sessions\\" + ids[0] + L"\\";
    const std::wstring otherJournal = storage.Path() + L"Sessions\\" + ids[1] + L"\\journal.bvj";
    const std::vector<uint8_t> otherBytes = ReadFileBytes(otherJournal);

    damage.apply({folder + L"journal.bvj", folder + L"journal.seal"});

    std::wstring report;
    const HRESULT status = backvault.Restore(ids[0], false, report);
    EXPECT_EQ(status, damage.expected) << report;
    EXPECT_NE(report.find(damage.reportPart), std::wstring::npos) << report;
    if (FAILED(damage.expected)) {
        EXPECT_NE(report.find(L"Session " + ids[0] + L": "), std::wstring::npos) << report;
        EXPECT_NE(report.find(L"Nothing was restored."), std::wstring::npos) << report;
        EXPECT_NE(backvault.LastError().find(L"Session " + ids[0]), std::wstring::npos)
            << backvault.LastError();
        EXPECT_FALSE(damagedKey.Exists(L"Tree")) << "nothing of a damaged session is restored";
        // The list shows the damage; the export refuses too.
        ASSERT_EQ(backvault->GetSessionCount(), 2);
        BackvaultSessionInfo info = {};
        ASSERT_EQ(backvault->FindSession(ids[0].c_str(), &info), S_OK);
        EXPECT_TRUE(info.damaged);
        ClearSessionInfo(info);
        EXPECT_TRUE(FAILED(backvault->ExportSession(ids[0].c_str(), (storage.Path() + L"x.reg").c_str())));
    } else {
        EXPECT_EQ(DumpTree(HKEY_CURRENT_USER, damagedKey.SubPath() + L"\\Tree", KEY_WOW64_64KEY),
                  damagedBefore)
            << report;
    }
    // The other session is untouched and restores in full.
    EXPECT_EQ(ReadFileBytes(otherJournal), otherBytes);
    EXPECT_FALSE(otherKey.Exists(L"Tree"));
    EXPECT_EQ(backvault.Restore(ids[1], false, report), S_OK) << report;
    EXPECT_EQ(DumpTree(HKEY_CURRENT_USER, otherKey.SubPath() + L"\\Tree", KEY_WOW64_64KEY), otherBefore);
}

void Truncate(const std::wstring &path, size_t keep)
{
    std::vector<uint8_t> bytes = ReadFileBytes(path);
    bytes.resize(std::min(keep, bytes.size()));
    WriteBytes(path, bytes);
}

void Unseal(const TSessionFiles &files)
{
    DeleteFileW(files.seal.c_str());
}

const TDamage kDamages[] = {
    {"FlippedByteInARecord",
     [](const TSessionFiles &files) {
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         bytes[bytes.size() / 2] ^= 0x5A;
         WriteBytes(files.journal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"checksum mismatch"},
    {"SealedJournalShortByOneByte",
     [](const TSessionFiles &files) { Truncate(files.journal, ReadFileBytes(files.journal).size() - 1); },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"(truncated)"},
    {"SealedJournalCutInTheMiddle",
     [](const TSessionFiles &files) { Truncate(files.journal, ReadFileBytes(files.journal).size() / 3); },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"(truncated)"},
    {"BytesAppendedToASealedJournal",
     [](const TSessionFiles &files) {
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         bytes.resize(bytes.size() + 40, 0);
         WriteBytes(files.journal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"was sealed at"},
    {"DamagedSeal",
     [](const TSessionFiles &files) {
         std::vector<uint8_t> bytes = ReadFileBytes(files.seal);
         bytes[10] ^= 1;
         WriteBytes(files.seal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"seal is damaged"},
    {"MissingJournal", [](const TSessionFiles &files) { DeleteFileW(files.journal.c_str()); },
     HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), L"has no journal"},
    {"WrongSignature",
     [](const TSessionFiles &files) {
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         bytes[0] = 'X';
         WriteBytes(files.journal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"not a backup journal"},
    {"RecordRemovedFromAnUnsealedJournal",
     [](const TSessionFiles &files) {
         Unseal(files);
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         const std::vector<size_t> offsets = RecordOffsets(bytes);
         bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(offsets[2]),
                     bytes.begin() + static_cast<ptrdiff_t>(offsets[3]));
         WriteBytes(files.journal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"out of sequence"},
    {"GarbageHeaderInTheMiddleOfAnUnsealedJournal",
     [](const TSessionFiles &files) {
         Unseal(files);
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         const std::vector<size_t> offsets = RecordOffsets(bytes);
         std::memset(bytes.data() + offsets[3], 0xEE, 12);
         WriteBytes(files.journal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"damaged record header"},
    {"UnknownRecordKindWithAValidChecksum",
     [](const TSessionFiles &files) {
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         const size_t record = RecordOffsets(bytes)[2];
         uint32_t size = 0;
         std::memcpy(&size, bytes.data() + record, 4);
         bytes[record + 12 + 4] = 0x77; // the kind
         const uint32_t crc = Crc(bytes.data() + record + 12, size);
         std::memcpy(bytes.data() + record + 8, &crc, 4);
         WriteBytes(files.journal, bytes);
     },
     HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), L"does not hold a valid change"},
    {"TornLastRecordOfAnUnsealedJournal",
     [](const TSessionFiles &files) {
         Unseal(files);
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         const std::vector<size_t> offsets = RecordOffsets(bytes);
         // Drop the end record, then cut the last change record in half, as a crash while
         // writing it leaves it.
         bytes.resize(offsets[offsets.size() - 1]);
         const size_t last = offsets[offsets.size() - 2];
         bytes.resize(last + (bytes.size() - last) / 2);
         WriteBytes(files.journal, bytes);
     },
     S_OK, L"ends in an incomplete record"},
    {"ZerosAfterAnUnsealedJournal",
     [](const TSessionFiles &files) {
         Unseal(files);
         std::vector<uint8_t> bytes = ReadFileBytes(files.journal);
         bytes.resize(bytes.size() + 300, 0);
         WriteBytes(files.journal, bytes);
     },
     S_OK, L"ends in an incomplete record"},
};

INSTANTIATE_TEST_SUITE_P(Cases, BackvaultJournal, ::testing::ValuesIn(kDamages),
                         [](const ::testing::TestParamInfo<TDamage> &info) {
                             return std::string(info.param.name);
                         });

} // namespace
} // namespace tidyhive::testing
