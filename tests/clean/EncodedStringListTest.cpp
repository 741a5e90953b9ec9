// The encoded line list inside each ignore-list entry: check values, line encoding, line splitting,
// failure without loss of the previous lines, and the character conversions at its boundary.
#include "clean/EncodedStringList.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace tidyhive {
namespace {

using Lines = std::vector<std::wstring>;

std::string Units(std::u16string_view text)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char16_t unit : text) {
        if (!out.empty())
            out += ' ';
        for (int shift = 12; shift >= 0; shift -= 4)
            out += digits[(unit >> shift) & 0xF];
    }
    return out;
}

std::string HexBytes(std::string_view bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<std::uint8_t>(c);
        if (!out.empty())
            out += ' ';
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::string Printable(const Lines& lines)
{
    return ::testing::PrintToString(lines);
}

std::string Saved(const Lines& lines)
{
    TEncodedStringList list;
    list.Lines() = lines;
    TMemoryStream stream;
    list.SaveToStream(stream);
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

TMemoryStream StreamOf(std::string_view text)
{
    return TMemoryStream(std::vector<std::uint8_t>(text.begin(), text.end()));
}

// What loading the text gives: the lines, or the kind of error.
struct LoadResult {
    Lines lines;
    std::string error; // "", "corrupted" or "conversion"
};

LoadResult Load(std::string_view text, const Lines& before = {})
{
    TEncodedStringList list;
    list.Lines() = before;
    auto stream = StreamOf(text);
    try {
        list.LoadFromStream(stream);
        return {list.Lines(), ""};
    } catch (const ECurruptedList& e) {
        EXPECT_STREQ(e.what(), "Invalid data. Probably list was corrupted.");
        return {list.Lines(), "corrupted"};
    } catch (const std::invalid_argument&) {
        return {list.Lines(), "conversion"};
    }
}

// A stored line with a correct check value over an arbitrary payload.
std::string WithCheck(std::string_view payload)
{
    return EncodedLineCheckValue(payload) + std::string(payload);
}

const std::string kAbc = "FF00000000710D63E1E2E3"; // "abc"
const std::string kEmpty = "FF0000000070F0F0";     // ""

// ---- One line ----

TEST(EncodedLineCheckValue, KnownPayloads)
{
    struct Case {
        std::string payload;
        std::string expected;
    };
    const Case cases[] = {
        {"", "FF0000000070F0F0"},           {"E1E2E3", "FF00000000710D63"},
        {"e1e2e3", "FF00000000710D63"}, // upper-cased before summing
        {"AAA", "FF000000007101B3"},    // 65 + 65 * 65 + 1
        {"aaa", "FF000000007101B3"},        {"AAAA", "FF000000007101F4"},
        {"\xFF\xFF", "FF0000000071EFF0"}, // characters beyond ASCII count with their byte value
        {"C3E1E64329", "FF000000007118BF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodedLineCheckValue(c.payload), c.expected) << "payload " << HexBytes(c.payload);
}

TEST(EncodedStoredLine, EncodesPlainBytes)
{
    struct Case {
        std::string plain;
        std::string stored;
    };
    const Case cases[] = {
        {"abc", kAbc},
        {"", kEmpty},
        {std::string(1, '\0'), "FF0000000070FA2880"},
        {"\x7F", "FF0000000071045AFF"},
        {"\x80", "FF0000000070FA2000"},
        {"\r\n", "FF0000000071037A8D8A"},
        {"caf\xE9", "FF00000000711B11E3E1E669"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EncodeStoredLine(c.plain), c.stored) << "plain " << HexBytes(c.plain);
        EXPECT_EQ(HexBytes(DecodeStoredLine(c.stored)), HexBytes(c.plain)) << "stored " << c.stored;
    }
}

TEST(EncodedStoredLine, DecodingAcceptsLowerCasePayloadAndIgnoresAnOddTail)
{
    struct Case {
        std::string stored;
        std::string plain;
    };
    const Case cases[] = {
        {WithCheck("e1e2e3"), "abc"},      {WithCheck("E1e2E3"), "abc"},
        {WithCheck("E1E2E"), "ab"},        {WithCheck("E"), ""},
        {WithCheck("E1E2Z"), "ab"},        // the odd tail is not parsed
        {"FF00000000710D63E1E2E4", "abd"}, // every third character adds 1 whatever it is
    };
    for (const auto& c : cases)
        EXPECT_EQ(HexBytes(DecodeStoredLine(c.stored)), HexBytes(c.plain)) << "stored " << c.stored;
}

TEST(EncodedStoredLine, DecodingRefusesBadLines)
{
    struct Case {
        std::string stored;
        std::string error;
    };
    const Case cases[] = {
        {"", "corrupted"},
        {"FF00000000710D6", "corrupted"},         // 15 characters
        {"FF00000000710D64E1E2E3", "corrupted"},  // check value off by one
        {"FF00000000710D63E1E2F3", "corrupted"},  // payload changed
        {"ff00000000710d63E1E2E3", "corrupted"},  // check values compare exactly
        {"FF00000000710D63E1E2E3 ", "corrupted"}, // trailing space is payload
        {" FF00000000710D63E1E2E3", "corrupted"},
        {WithCheck("ZZ"), "conversion"},
        {WithCheck("E1G2"), "conversion"},
        {WithCheck("E1 2"), "conversion"},
        {WithCheck("+1"), "conversion"},
        {WithCheck("0x"), "conversion"},
    };
    for (const auto& c : cases) {
        std::string got;
        try {
            got = "decoded " + HexBytes(DecodeStoredLine(c.stored));
        } catch (const ECurruptedList&) {
            got = "corrupted";
        } catch (const std::invalid_argument&) {
            got = "conversion";
        }
        EXPECT_EQ(got, c.error) << "stored \"" << c.stored << "\"";
    }
}

// ---- The list ----

TEST(EncodedStringListSave, JoinsLinesWithCrLfAndNothingAfterTheLast)
{
    struct Case {
        Lines lines;
        std::string text;
    };
    const Case cases[] = {
        {{}, ""},
        {{L"abc"}, kAbc},
        {{L""}, kEmpty},
        {{L"abc", L""}, kAbc + "\r\n" + kEmpty},
        {{L"", L"", L"abc"}, kEmpty + "\r\n" + kEmpty + "\r\n" + kAbc},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Saved(c.lines), c.text) << "lines " << Printable(c.lines);
}

TEST(EncodedStringListSave, WritesAtTheCurrentPosition)
{
    TEncodedStringList list;
    list.Add(L"abc");
    auto stream = StreamOf("prefix");
    stream.Seek(stream.Size());
    list.SaveToStream(stream);
    EXPECT_EQ(std::string(stream.Bytes().begin(), stream.Bytes().end()), "prefix" + kAbc);
}

TEST(EncodedStringListLoad, SplitsAtCrLfCrOrLf)
{
    struct Case {
        std::string text;
        Lines lines;
    };
    const Case cases[] = {
        {"", {}},
        {kAbc, {L"abc"}},
        {kAbc + "\r\n", {L"abc"}},
        {kAbc + "\n", {L"abc"}},
        {kAbc + "\r", {L"abc"}},
        {kEmpty, {L""}},
        {kAbc + "\r\n" + kEmpty, {L"abc", L""}},
        {kAbc + "\n" + kEmpty + "\r" + kAbc, {L"abc", L"", L"abc"}},
    };
    for (const auto& c : cases) {
        const auto got = Load(c.text);
        EXPECT_EQ(got.error, "") << "text \"" << c.text << "\"";
        EXPECT_EQ(got.lines, c.lines) << "text \"" << c.text << "\"";
    }
}

TEST(EncodedStringListLoad, AnyBadLineKeepsThePreviousLines)
{
    const Lines before = {L"kept", L"as they were"};
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"\r\n", "corrupted"},                              // one empty line
        {kAbc + "\r\n\r\n" + kAbc, "corrupted"},            // blank line in between
        {kAbc + "\n\r" + kAbc, "corrupted"},                // LF then CR: two separators
        {kAbc + "\r\nFF00000000710D63E1E2F3", "corrupted"}, // bad check value on the last line
        {"FF00000000710D", "corrupted"},
        {kAbc + "\r\n" + WithCheck("E1XX"), "conversion"},
        {WithCheck("GG") + "\r\n" + kAbc, "conversion"},
    };
    for (const auto& c : cases) {
        const auto got = Load(c.text, before);
        EXPECT_EQ(got.error, c.error) << "text \"" << c.text << "\"";
        EXPECT_EQ(got.lines, before) << "text \"" << c.text << "\" left " << Printable(got.lines);
    }
}

TEST(EncodedStringListLoad, ReadsFromTheCurrentPosition)
{
    TEncodedStringList list;
    auto stream = StreamOf("junk" + kAbc);
    stream.Seek(4);
    list.LoadFromStream(stream);
    EXPECT_EQ(list.Lines(), Lines{L"abc"});
}

TEST(EncodedStringListLoad, ReplacesRatherThanAppends)
{
    const auto got = Load(kAbc, {L"old"});
    EXPECT_EQ(got.lines, Lines{L"abc"});
}

// ---- Characters ----

TEST(EncodedStringListText, LinesRoundTrip)
{
    const Lines cases[] = {
        {L"HKEY_CURRENT_USER\\Software\\A", L"*"},
        {L"Caf\u00E9", L"\u65E5\u672C\u8A9E", L"\u20AC"},
        {L"\U0001F600 beyond the basic plane"},
        {L"line\r\nbreaks\rand\nfeeds stay inside one line"},
        {std::wstring(L"nul\0inside", 10)},
        {L"\u007F\u0080\u00FF\u0100\uFFFD\uFFFF"},
        {L"<type>TIgnoreItem</type><key>HKEY_LOCAL_MACHINE\\Software\\X</key><value>v</value><display>"
         L"</display><regex></regex>"},
    };
    for (const auto& lines : cases) {
        const auto text = Saved(lines);
        const auto got = Load(text);
        EXPECT_EQ(got.error, "") << "lines " << Printable(lines) << " saved as " << text;
        EXPECT_EQ(got.lines, lines) << "saved as " << text;
    }
}

TEST(EncodedStringListText, NonAsciiIsStoredAsUtf8)
{
    EXPECT_EQ(Saved({L"Caf\u00E9"}), "FF000000007118BFC3E1E64329");
    EXPECT_EQ(Load("FF000000007118BFC3E1E64329").lines, Lines{L"Caf\u00E9"});
}

TEST(EncodedStringListText, BytesThatAreNotUtf8AreReadOnePerCharacter)
{
    struct Case {
        std::string plain;
        std::wstring line;
    };
    const Case cases[] = {
        {"caf\xE9", L"caf\u00E9"},
        {"\xC0\x80", L"\u00C0\u0080"},
        {"ok \xE2\x82", L"ok \u00E2\u0082"},
    };
    for (const auto& c : cases) {
        const auto got = Load(EncodeStoredLine(c.plain));
        EXPECT_EQ(got.lines, Lines{c.line}) << "plain " << HexBytes(c.plain);
    }
}

TEST(Utf8Conversion, Utf16BothWays)
{
    struct Case {
        std::u16string utf16;
        std::string utf8;
    };
    const Case cases[] = {
        {u"", ""},
        {u"abc", "abc"},
        {u"\u00E9", "\xC3\xA9"},
        {u"\u20AC", "\xE2\x82\xAC"},
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        // Unpaired surrogates keep their code unit value.
        {std::u16string(1, char16_t{0xD800}), "\xED\xA0\x80"},
        {std::u16string(1, char16_t{0xDFFF}), "\xED\xBF\xBF"},
        {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\xED\xB0\x80\xED\xA0\x80"},
        {std::u16string{u'a', char16_t{0xD83D}, u'b'}, "a\xED\xA0\xBD"
                                                       "b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HexBytes(Utf8FromUtf16(c.utf16)), HexBytes(c.utf8)) << "UTF-16 " << Units(c.utf16);
        const auto back = Utf16FromUtf8(c.utf8);
        ASSERT_TRUE(back.has_value()) << "UTF-8 " << HexBytes(c.utf8) << " refused";
        EXPECT_EQ(Units(*back), Units(c.utf16)) << "UTF-8 " << HexBytes(c.utf8);
    }
}

TEST(Utf8Conversion, IllFormedUtf8IsRefused)
{
    const std::string cases[] = {
        "\x80",             // continuation without a lead
        "\xC0\x80",         // overlong NUL
        "\xC1\xBF",         // overlong
        "\xE0\x80\x80",     // overlong three-byte
        "\xF0\x80\x80\x80", // overlong four-byte
        "\xE2\x82",         // truncated
        "a\xE2\x28\xA1",    // bad continuation
        "\xF4\x90\x80\x80", // beyond U+10FFFF
        "\xF5\x80\x80\x80",
        "\xFF",
    };
    for (const auto& text : cases) {
        const auto got = Utf16FromUtf8(text);
        EXPECT_FALSE(got.has_value()) << "UTF-8 " << HexBytes(text) << " gave " << Units(got.value_or(u""));
        EXPECT_FALSE(WideFromUtf8(text).has_value()) << "UTF-8 " << HexBytes(text);
    }
}

TEST(Utf8Conversion, WideTextBothWays)
{
    const std::wstring cases[] = {L"",           L"plain",
                                  L"Caf\u00E9",  L"\u65E5\u672C",
                                  L"\U0001F600", std::wstring(1, static_cast<wchar_t>(0xD800))};
    for (const auto& text : cases) {
        const auto utf8 = Utf8FromWide(text);
        const auto back = WideFromUtf8(utf8);
        ASSERT_TRUE(back.has_value()) << ::testing::PrintToString(text) << " gave UTF-8 " << HexBytes(utf8);
        EXPECT_EQ(*back, text) << "via UTF-8 " << HexBytes(utf8);
    }
    EXPECT_EQ(HexBytes(Utf8FromWide(L"\U0001F600")), "F0 9F 98 80");
}

// ---- Files ----

TEST(EncodedStringListFile, SaveAndLoadGoThroughTheStreamForm)
{
    const auto path = std::filesystem::temp_directory_path() / "tidyhive-encoded-list-test.txt";
    TEncodedStringList list;
    list.Lines() = {L"abc", L""};
    list.SaveToFile(path);
    std::ifstream file(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    file.close();
    TEncodedStringList loaded;
    loaded.LoadFromFile(path);
    std::filesystem::remove(path);

    EXPECT_EQ(text, kAbc + "\r\n" + kEmpty);
    EXPECT_EQ(loaded.Lines(), (Lines{L"abc", L""}));
    EXPECT_THROW(loaded.LoadFromFile(path), std::filesystem::filesystem_error);
    EXPECT_EQ(loaded.Lines(), (Lines{L"abc", L""})) << "a missing file changed the list";
}

} // namespace
} // namespace tidyhive
