// The ignore-list container: layout, check values, replacement, and refusal of damaged or hostile images.
#include "clean/LibStream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tidyhive {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

Bytes Pattern(std::size_t size, std::uint8_t seed)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

std::string Hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}

std::uint32_t Le32(const Bytes& bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int k = 3; k >= 0; --k)
        value = value << 8 | bytes.at(at + static_cast<std::size_t>(k));
    return value;
}

std::uint64_t Le64(const Bytes& bytes, std::size_t at)
{
    return std::uint64_t{Le32(bytes, at)} | std::uint64_t{Le32(bytes, at + 4)} << 32;
}

void PutLe32(Bytes& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void PutLe64(Bytes& out, std::uint64_t value)
{
    PutLe32(out, static_cast<std::uint32_t>(value));
    PutLe32(out, static_cast<std::uint32_t>(value >> 32));
}

Bytes ImageOf(const TLibStream& lib)
{
    TMemoryStream image;
    lib.SaveToStream(image);
    return image.Bytes();
}

void Put(TLibStream& lib, std::string_view name, const Bytes& data)
{
    TMemoryStream stream(data);
    lib.WriteEntry(name, &stream);
}

std::optional<Bytes> Get(const TLibStream& lib, std::string_view name)
{
    const auto entry = lib.ReadEntry(name);
    if (!entry)
        return std::nullopt;
    return entry->Bytes();
}

// The message of the ELibStreamError that opening the image raises, or "" when it opens.
std::string OpenError(const Bytes& image)
{
    TMemoryStream stream(image);
    try {
        TLibStream lib(&stream);
        return "";
    } catch (const ELibStreamError& e) {
        return e.what();
    }
}

std::string ReadError(const TLibStream& lib, std::string_view name)
{
    try {
        (void)lib.ReadEntry(name);
        return "";
    } catch (const ELibStreamError& e) {
        return e.what();
    }
}

struct RawRecord {
    std::string name;
    std::uint64_t offset;
    std::uint64_t size;
    std::uint32_t check;
    int nameLength = -1; // -1: the name's own length
};

// A container built field by field, independently of TLibHeader, with a correct header check value, so
// that only the layout under test is wrong.
Bytes RawContainer(std::int32_t count, const std::vector<RawRecord>& records, const Bytes& data)
{
    Bytes out;
    PutLe32(out, 0x1A48525Au);
    PutLe32(out, 0x00010000u);
    PutLe32(out, static_cast<std::uint32_t>(count));
    for (const auto& record : records) {
        out.push_back(
            static_cast<std::uint8_t>(record.nameLength < 0 ? record.name.size() : record.nameLength));
        Bytes name(31, 0);
        std::copy(record.name.begin(), record.name.end(), name.begin());
        out.insert(out.end(), name.begin(), name.end());
        PutLe64(out, record.offset);
        PutLe64(out, record.size);
        PutLe32(out, record.check);
    }
    PutLe32(out, LibCheckValue(out.data(), out.size()));
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::uint32_t CheckOf(const Bytes& bytes)
{
    return LibCheckValue(bytes.data(), bytes.size());
}

constexpr char kNotALibrary[] = "Not a library stream";
constexpr char kUnknownVersion[] = "Unknown library version";
constexpr char kHeaderCorrupted[] = "Header is corrupted";
constexpr char kDataCorrupted[] = "Data is corrupted";

// ---- Check value ----

TEST(LibCheckValue, IsComplementOfStandardCrc32)
{
    struct Case {
        std::string input;
        std::uint32_t expected; // ~CRC-32 of the published check values
    };
    const Case cases[] = {
        {"", 0xFFFFFFFFu},
        {"a", ~0xE8B7BE43u},
        {"123456789", ~0xCBF43926u},
    };
    for (const auto& c : cases) {
        const auto got = LibCheckValue(c.input.data(), c.input.size());
        EXPECT_EQ(got, c.expected) << "input \"" << c.input << "\" gave " << std::hex << got;
    }
}

TEST(LibCheckValue, ContinuesAcrossChunks)
{
    const std::string text = "123456789";
    for (std::size_t split = 0; split <= text.size(); ++split) {
        const auto first = LibCheckValue(text.data(), split);
        const auto got = LibCheckValue(text.data() + split, text.size() - split, first);
        EXPECT_EQ(got, ~0xCBF43926u) << "split at " << split << " gave " << std::hex << got;
    }
}

// ---- Empty container ----

TEST(LibStreamEmpty, IsSixteenBytesCheckedOverTheLeadingTwelve)
{
    const TLibStream lib;
    const Bytes image = ImageOf(lib);
    const Bytes expected = {0x5A, 0x52, 0x48, 0x1A, 0x00, 0x00, 0x01, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x06, 0xB3, 0x6B, 0x0D};
    EXPECT_EQ(Hex(image), Hex(expected));
    EXPECT_EQ(lib.EntryCount(), 0);
    EXPECT_FALSE(lib.ReadOnly());
    EXPECT_EQ(OpenError(image), "") << "image " << Hex(image);
}

TEST(LibStreamEmpty, OpensWhateverFollowsTheHeader)
{
    for (const std::size_t trailing : {0u, 1u, 52u, 1000u}) {
        Bytes image = ImageOf(TLibStream());
        image.resize(image.size() + trailing, 0xAB);
        EXPECT_EQ(OpenError(image), "") << trailing << " trailing bytes";
    }
}

// ---- Writing and reading back ----

TEST(LibStreamWrite, ThreeEntriesReadBackWithContiguousOffsets)
{
    const std::vector<std::pair<std::string, Bytes>> entries = {
        {"rctClasses", Pattern(5, 1)}, {"rctFileExts", Pattern(17, 2)}, {"rctSoftware", Pattern(300, 3)}};
    TLibStream lib;
    for (const auto& [name, data] : entries)
        Put(lib, name, data);
    ASSERT_EQ(lib.EntryCount(), 3);

    const Bytes image = ImageOf(lib);
    const std::uint64_t expectedOffsets[] = {172, 177, 194};
    ASSERT_EQ(image.size(), 172u + 5 + 17 + 300) << Hex(image);
    EXPECT_EQ(Le32(image, 8), 3u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::size_t record = 12 + 52 * i;
        const auto& [name, data] = entries[i];
        EXPECT_EQ(image[record], name.size()) << "record " << i;
        EXPECT_EQ(std::string(image.begin() + static_cast<std::ptrdiff_t>(record) + 1,
                              image.begin() + static_cast<std::ptrdiff_t>(record + 1 + name.size())),
                  name);
        for (std::size_t k = record + 1 + name.size(); k < record + 32; ++k)
            EXPECT_EQ(image[k], 0) << "name padding of record " << i << " at byte " << k;
        EXPECT_EQ(Le64(image, record + 32), expectedOffsets[i]) << "offset of " << name;
        EXPECT_EQ(Le64(image, record + 40), data.size()) << "size of " << name;
        EXPECT_EQ(Le32(image, record + 48), CheckOf(data)) << "check value of " << name;
    }
    EXPECT_EQ(Le32(image, 168), LibCheckValue(image.data(), 168)) << "header check value";

    TMemoryStream stream(image);
    const TLibStream opened(&stream);
    EXPECT_TRUE(opened.ReadOnly());
    EXPECT_EQ(opened.EntryCount(), 3);
    for (const auto& [name, data] : entries) {
        EXPECT_EQ(Get(lib, name), data) << name << " from the writer";
        EXPECT_EQ(Get(opened, name), data) << name << " from the reopened image";
    }
}

TEST(LibStreamWrite, ReplacementKeepsOtherEntriesIntactAndContiguous)
{
    struct Case {
        const char* what;
        std::size_t replaced;
        std::size_t newSize;
    };
    const std::size_t sizes[] = {10, 20, 30};
    const Case cases[] = {
        {"first shorter", 0, 3},  {"first longer", 0, 64}, {"middle shorter", 1, 1},
        {"middle longer", 1, 99}, {"last shorter", 2, 29}, {"last longer", 2, 31},
        {"same size", 1, 20},     {"to empty", 0, 0},      {"middle to empty", 1, 0},
    };
    const char* const names[] = {"A", "B", "C"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TLibStream lib;
        std::vector<Bytes> expected;
        for (std::size_t i = 0; i < 3; ++i) {
            expected.push_back(Pattern(sizes[i], static_cast<std::uint8_t>(i * 50)));
            Put(lib, names[i], expected.back());
        }
        expected[c.replaced] = Pattern(c.newSize, 0xC0);
        Put(lib, names[c.replaced], expected[c.replaced]);

        EXPECT_EQ(lib.EntryCount(), 3);
        const Bytes image = ImageOf(lib);
        std::uint64_t offset = 172;
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(Le64(image, 12 + 52 * i + 32), offset) << "offset of " << names[i];
            offset += expected[i].size();
            EXPECT_EQ(Get(lib, names[i]), expected[i]) << names[i] << " from the writer";
        }
        EXPECT_EQ(image.size(), offset);
        TMemoryStream stream(image);
        const TLibStream opened(&stream);
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(Get(opened, names[i]), expected[i]) << names[i] << " from the reopened image";
    }
}

TEST(LibStreamWrite, EmptyEntriesAnywhereStillReopen)
{
    // An empty entry shares its offset with the entry after it; the reader must not take that for a gap.
    const std::vector<std::vector<std::size_t>> layouts = {{0},       {0, 5},    {5, 0},
                                                           {5, 0, 7}, {0, 0, 3}, {3, 0, 0}};
    for (const auto& sizes : layouts) {
        TLibStream lib;
        for (std::size_t i = 0; i < sizes.size(); ++i)
            Put(lib, std::string(1, static_cast<char>('a' + i)),
                Pattern(sizes[i], static_cast<std::uint8_t>(i)));
        const Bytes image = ImageOf(lib);
        std::string layout;
        for (const auto size : sizes)
            layout += std::to_string(size) + " ";
        ASSERT_EQ(OpenError(image), "") << "entry sizes " << layout << "image " << Hex(image);
        TMemoryStream stream(image);
        const TLibStream opened(&stream);
        for (std::size_t i = 0; i < sizes.size(); ++i)
            EXPECT_EQ(Get(opened, std::string(1, static_cast<char>('a' + i))),
                      Pattern(sizes[i], static_cast<std::uint8_t>(i)))
                << "entry " << i << " of sizes " << layout;
    }
}

TEST(LibStreamWrite, NullDataChangesNothing)
{
    TLibStream lib;
    Put(lib, "A", Pattern(4, 0));
    const Bytes before = ImageOf(lib);
    lib.WriteEntry("A", nullptr);
    lib.WriteEntry("B", nullptr);
    EXPECT_EQ(Hex(ImageOf(lib)), Hex(before));
}

TEST(LibStreamWrite, TakesTheWholeDataWhateverItsPosition)
{
    TMemoryStream data;
    const Bytes payload = Pattern(40, 9);
    data.Write(payload.data(), payload.size()); // leaves the position at the end, as a fresh save does
    TLibStream lib;
    lib.WriteEntry("A", &data);
    EXPECT_EQ(Get(lib, "A"), payload);
}

TEST(LibStreamWrite, NameOf31IsAcceptedAnd32Refused)
{
    const std::string name31(31, 'n');
    const std::string name32(32, 'n');
    TLibStream lib;
    Put(lib, name31, Pattern(3, 0));
    EXPECT_EQ(Get(lib, name31), Pattern(3, 0));
    const Bytes before = ImageOf(lib);
    try {
        Put(lib, name32, Pattern(3, 0));
        ADD_FAILURE() << "a 32-character name was accepted";
    } catch (const ELibStreamError& e) {
        EXPECT_STREQ(e.what(), ("Entry name too long: " + name32).c_str());
    }
    EXPECT_EQ(Hex(ImageOf(lib)), Hex(before)) << "a refused name changed the container";
    TMemoryStream stream(before);
    const TLibStream opened(&stream);
    EXPECT_EQ(Get(opened, name31), Pattern(3, 0));
}

TEST(LibStreamWrite, ReplacingUnderOtherCaseKeepsOneEntry)
{
    TLibStream lib;
    Put(lib, "rctStartup", Pattern(8, 0));
    Put(lib, "RCTSTARTUP", Pattern(2, 1));
    EXPECT_EQ(lib.EntryCount(), 1);
    EXPECT_EQ(lib.EntryNames(), std::vector<std::string>{"rctStartup"});
    EXPECT_EQ(Get(lib, "rctStartup"), Pattern(2, 1));
}

// ---- Lookup ----

TEST(LibStreamRead, LookupIgnoresLetterCase)
{
    TLibStream lib;
    Put(lib, "rctFileAssocs", Pattern(6, 4));
    TMemoryStream stream(ImageOf(lib));
    const TLibStream opened(&stream);
    for (const char* name : {"rctFileAssocs", "RCTFILEASSOCS", "rctfileassocs", "RcTfIlEaSsOcS"}) {
        EXPECT_EQ(Get(lib, name), Pattern(6, 4)) << "writer, name " << name;
        EXPECT_EQ(Get(opened, name), Pattern(6, 4)) << "reader, name " << name;
    }
    for (const char* name : {"rctFileAssoc", "rctFileAssocsX", "", "rctFileExts"})
        EXPECT_EQ(lib.ReadEntry(name), nullptr) << "name \"" << name << "\" found an entry";
}

TEST(LibStreamRead, GivesAnIndependentCopyAtPositionZero)
{
    TLibStream lib;
    Put(lib, "A", Pattern(12, 0));
    auto first = lib.ReadEntry("A");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->Position(), 0u);
    const std::uint8_t junk = 0xEE;
    first->Write(&junk, 1);
    EXPECT_EQ(Get(lib, "A"), Pattern(12, 0)) << "changing a copy changed the entry";
}

// ---- Opening ----

TEST(LibStreamOpen, NullStreamIsRefused)
{
    try {
        TLibStream lib(nullptr);
        ADD_FAILURE() << "a null stream opened";
    } catch (const ELibStreamError& e) {
        EXPECT_STREQ(e.what(), "Null stream");
    }
}

TEST(LibStreamOpen, ReadOnlyContainerRefusesWrites)
{
    TLibStream writer;
    Put(writer, "A", Pattern(4, 0));
    TMemoryStream stream(ImageOf(writer));
    TLibStream opened(&stream);
    TMemoryStream data(Pattern(2, 0));
    for (const char* name : {"A", "B"}) {
        try {
            opened.WriteEntry(name, &data);
            ADD_FAILURE() << "writing " << name << " to a read-only container succeeded";
        } catch (const ELibStreamError& e) {
            EXPECT_STREQ(e.what(), "Attempt to change read-only library stream") << "name " << name;
        }
    }
    EXPECT_EQ(Get(opened, "A"), Pattern(4, 0));
}

TEST(LibStreamOpen, StartsAtTheBeginningWhateverThePosition)
{
    TLibStream writer;
    Put(writer, "A", Pattern(4, 0));
    TMemoryStream stream(ImageOf(writer));
    stream.Seek(30);
    const TLibStream opened(&stream);
    EXPECT_EQ(Get(opened, "A"), Pattern(4, 0));
}

TEST(LibStreamOpen, ShortOrWrongFixedFields)
{
    Bytes magic = {0x5A, 0x52, 0x48, 0x1A};
    Bytes version = {0x00, 0x00, 0x01, 0x00};
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const auto& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    struct Case {
        Bytes image;
        const char* expected;
    };
    const Case cases[] = {
        {{}, kNotALibrary},
        {{0x5A, 0x52, 0x48}, kNotALibrary},
        {{0x5A, 0x52, 0x48, 0x1B, 0, 0, 1, 0}, kNotALibrary},
        {ToBytes("PK\x03\x04 not a container"), kNotALibrary},
        {magic, kUnknownVersion},
        {join({magic, {0x00, 0x00, 0x01}}), kUnknownVersion},
        {join({magic, {0x00, 0x00, 0x02, 0x00}}), kUnknownVersion},
        {join({magic, {0x00, 0x01, 0x00, 0x00}}), kUnknownVersion},
        {join({magic, version}), kHeaderCorrupted},
        {join({magic, version, {0, 0, 0}}), kHeaderCorrupted},
        {join({magic, version, {0, 0, 0, 0}}), kHeaderCorrupted},            // check value missing
        {join({magic, version, {0, 0, 0, 0}, {0, 0, 0}}), kHeaderCorrupted}, // check value short
        {join({magic, version, {0, 0, 0, 0}, {0, 0, 0, 0}}), kHeaderCorrupted},
        {join({magic, version, {0xFF, 0xFF, 0xFF, 0xFF}, {0, 0, 0, 0}}), kHeaderCorrupted}, // count -1
        {join({magic, version, {1, 0, 0, 0}, Bytes(40, 0)}), kHeaderCorrupted},             // short table
    };
    for (const auto& c : cases)
        EXPECT_EQ(OpenError(c.image), c.expected) << "image " << Hex(c.image);
}

TEST(LibStreamOpen, EveryFlippedHeaderByteIsRefused)
{
    TLibStream lib;
    Put(lib, "rctClasses", Pattern(9, 0));
    Put(lib, "rctUninstall", Pattern(14, 1));
    Put(lib, "rctInternet", Pattern(3, 2));
    const Bytes image = ImageOf(lib);
    const std::size_t headerSize = 16 + 52 * 3;
    for (std::size_t at = 0; at < headerSize; ++at) {
        const char* expected = at < 4 ? kNotALibrary : at < 8 ? kUnknownVersion : kHeaderCorrupted;
        for (const std::uint8_t mask : {0x01, 0x80, 0xFF}) {
            Bytes damaged = image;
            damaged[at] ^= mask;
            EXPECT_EQ(OpenError(damaged), expected) << "byte " << at << " xor " << int{mask} << " ("
                                                    << int{image[at]} << " -> " << int{damaged[at]} << ")";
        }
    }
}

TEST(LibStreamOpen, FlippedDataByteFailsOnlyThatEntry)
{
    const std::vector<std::pair<std::string, Bytes>> entries = {
        {"A", Pattern(9, 0)}, {"B", Pattern(14, 1)}, {"C", Pattern(1, 2)}};
    TLibStream lib;
    for (const auto& [name, data] : entries)
        Put(lib, name, data);
    const Bytes image = ImageOf(lib);
    std::size_t offset = 16 + 52 * entries.size();
    for (std::size_t damagedEntry = 0; damagedEntry < entries.size(); ++damagedEntry) {
        const auto& entrySize = entries[damagedEntry].second.size();
        for (const std::size_t within : {std::size_t{0}, entrySize - 1}) {
            Bytes damaged = image;
            damaged[offset + within] ^= 0x01;
            TMemoryStream stream(damaged);
            const TLibStream opened(&stream);
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const auto& [name, data] = entries[i];
                if (i == damagedEntry)
                    EXPECT_EQ(ReadError(opened, name), kDataCorrupted) << "byte " << within << " of " << name;
                else
                    EXPECT_EQ(Get(opened, name), data)
                        << name << " after damage to " << entries[damagedEntry].first;
            }
        }
        offset += entrySize;
    }
}

TEST(LibStreamOpen, ImageSizeMustEndWithTheLastEntry)
{
    TLibStream lib;
    Put(lib, "A", Pattern(9, 0));
    Put(lib, "B", Pattern(4, 0));
    const Bytes image = ImageOf(lib);
    for (const long change : {1L, 52L, 4096L, -1L, -4L, -13L}) {
        Bytes resized = image;
        resized.resize(static_cast<std::size_t>(static_cast<long>(image.size()) + change), 0);
        EXPECT_EQ(OpenError(resized), kDataCorrupted) << "image size changed by " << change;
    }
}

TEST(LibStreamOpen, TableIsTakenInDataOrder)
{
    // The writer always lists entries in data order; a table in another order is still a sound container.
    const Bytes first = Pattern(5, 1);
    const Bytes second = Pattern(7, 2);
    const std::uint64_t start = 16 + 52 * 2;
    Bytes data = first;
    data.insert(data.end(), second.begin(), second.end());
    const Bytes image = RawContainer(
        2, {{"Second", start + 5, 7, CheckOf(second)}, {"First", start, 5, CheckOf(first)}}, data);
    TMemoryStream stream(image);
    const TLibStream opened(&stream);
    EXPECT_EQ(opened.EntryNames(), (std::vector<std::string>{"First", "Second"}));
    EXPECT_EQ(Get(opened, "First"), first);
    EXPECT_EQ(Get(opened, "Second"), second);
}

TEST(LibStreamOpen, HostileTablesAreRefusedWithoutTrustingTheirSizes)
{
    const Bytes data = Pattern(10, 0);
    const std::uint32_t check = CheckOf(data);
    const std::uint64_t one = 16 + 52;
    const std::uint64_t two = 16 + 52 * 2;
    const std::uint64_t max = ~std::uint64_t{0};
    struct Case {
        const char* what;
        Bytes image;
        const char* expected;
    };
    const Case cases[] = {
        {"largest count, no table", RawContainer(0x7FFFFFFF, {}, {}), kHeaderCorrupted},
        {"count of a gigabyte table", RawContainer(20'000'000, {{"A", one, 10, check}}, data),
         kHeaderCorrupted},
        {"name length 32", RawContainer(1, {{"A", one, 10, check, 32}}, data), kHeaderCorrupted},
        {"name length 255", RawContainer(1, {{"A", one, 10, check, 255}}, data), kHeaderCorrupted},
        {"offset past the end", RawContainer(1, {{"A", one + 100, 10, check}}, data), kDataCorrupted},
        {"size past the end", RawContainer(1, {{"A", one, 11, check}}, data), kDataCorrupted},
        {"size of 4 GiB", RawContainer(1, {{"A", one, 0x100000000u, check}}, data), kDataCorrupted},
        {"largest size", RawContainer(1, {{"A", one, max, check}}, data), kDataCorrupted},
        {"largest offset", RawContainer(1, {{"A", max, 10, check}}, data), kDataCorrupted},
        {"end wraps below the offset", RawContainer(1, {{"A", one, max - one + 2, check}}, data),
         kDataCorrupted},
        {"first entry inside the header", RawContainer(1, {{"A", one - 1, 10, check}}, data), kDataCorrupted},
        {"second size wraps back to the first",
         RawContainer(2, {{"A", two, 5, check}, {"B", two + 5, max - 4, check}}, data), kDataCorrupted},
        {"gap between entries", RawContainer(2, {{"A", two, 4, check}, {"B", two + 5, 5, check}}, data),
         kDataCorrupted},
        {"overlapping entries", RawContainer(2, {{"A", two, 6, check}, {"B", two + 5, 5, check}}, data),
         kDataCorrupted},
        {"same entry twice", RawContainer(2, {{"A", two, 10, check}, {"A", two, 10, check}}, data),
         kDataCorrupted},
    };
    for (const auto& c : cases)
        EXPECT_EQ(OpenError(c.image), c.expected) << c.what << ": image " << Hex(c.image);
}

// ---- Files ----

TEST(LibStreamFile, SaveToFileReplacesTheWholeFile)
{
    const auto path = std::filesystem::temp_directory_path() / "tidyhive-libstream-test.igl";
    {
        std::ofstream old(path, std::ios::binary);
        old << std::string(5000, 'x');
    }
    TLibStream lib;
    Put(lib, "rctClasses", Pattern(33, 5));
    lib.SaveToFile(path);
    std::ifstream file(path, std::ios::binary);
    const Bytes written{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    file.close();

    TMemoryStream stream(written);
    const TLibStream opened(&stream);
    auto copyPath = path;
    copyPath += ".copy";
    opened.SaveToFile(copyPath);
    std::ifstream copyFile(copyPath, std::ios::binary);
    const Bytes copied{std::istreambuf_iterator<char>(copyFile), std::istreambuf_iterator<char>()};
    copyFile.close();
    std::filesystem::remove(path);
    std::filesystem::remove(copyPath);

    EXPECT_EQ(Hex(written), Hex(ImageOf(lib)));
    EXPECT_EQ(Hex(copied), Hex(written)) << "a read-only container saved a different image";
}

} // namespace
} // namespace tidyhive
