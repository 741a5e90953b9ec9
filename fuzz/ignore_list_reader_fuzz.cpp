// libFuzzer target for the ignore-list readers. The input is opened as a container; every entry that
// reads back goes into the encoded-list reader. The whole input also goes straight into the list reader,
// because the container's check values keep most mutations from reaching the lists through it.
//
// Beyond not crashing, it checks round trips: a list that loads saves and loads back to the same lines,
// and the entries of a container that opens, written into a new container, read back the same from it.
//
// Built with IGNORE_LIST_SEED_GENERATOR defined, the file is instead a program that writes a few sound
// containers made by the writer into the folder it is given, as seeds for the corpus.
#include "clean/EncodedStringList.h"
#include "clean/LibStream.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace tidyhive;

[[noreturn]] void Broken(const char* property)
{
    std::fprintf(stderr, "broken: %s\n", property);
    std::abort();
}

void CheckList(TStream& stream)
{
    TEncodedStringList list;
    try {
        list.LoadFromStream(stream);
    } catch (const ECurruptedList&) {
        return;
    } catch (const std::invalid_argument&) {
        return;
    }
    TMemoryStream saved;
    list.SaveToStream(saved);
    saved.Seek(0);
    TEncodedStringList again;
    again.LoadFromStream(saved); // anything it throws is a finding
    if (again.Lines() != list.Lines())
        Broken("a loaded list saves and loads back to the same lines");
}

void CheckContainer(TMemoryStream& input)
{
    std::optional<TLibStream> opened;
    try {
        opened.emplace(&input);
    } catch (const ELibStreamError&) {
        return;
    }
    TLibStream copy;
    for (const auto& name : opened->EntryNames()) {
        std::unique_ptr<TMemoryStream> entry;
        try {
            entry = opened->ReadEntry(name);
        } catch (const ELibStreamError&) {
            continue;
        }
        if (!entry)
            Broken("every listed entry is found by its name");
        CheckList(*entry);
        copy.WriteEntry(name, entry.get());
        const auto written = copy.ReadEntry(name);
        if (!written || written->Bytes() != entry->Bytes())
            Broken("an entry reads back as written");
    }
    TMemoryStream image;
    copy.SaveToStream(image);
    const TLibStream reopened(&image); // anything it throws is a finding
    if (reopened.EntryCount() != copy.EntryCount())
        Broken("a written container reopens with all its entries");
    for (const auto& name : copy.EntryNames()) {
        const auto fromCopy = copy.ReadEntry(name);
        const auto fromImage = reopened.ReadEntry(name);
        if (!fromCopy || !fromImage || fromCopy->Bytes() != fromImage->Bytes())
            Broken("a written container reopens with the same data");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TMemoryStream input(std::vector<std::uint8_t>(data, data + size));
    CheckContainer(input);
    input.Seek(0);
    CheckList(input);
    return 0;
}

#ifdef IGNORE_LIST_SEED_GENERATOR

namespace {

TMemoryStream ListStream(const std::vector<std::wstring>& lines)
{
    TEncodedStringList list;
    list.Lines() = lines;
    TMemoryStream stream;
    list.SaveToStream(stream);
    return stream;
}

std::wstring Item(const std::wstring& key, const std::wstring& value)
{
    return L"<type>TIgnoreItem</type><key>" + key + L"</key><value>" + value +
           L"</value><display></display><regex></regex>";
}

bool WriteSeed(const std::string& folder, const std::string& name, const TMemoryStream& bytes)
{
    const std::string path = folder + "/seed-" + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written =
        std::fwrite(bytes.Bytes().data(), 1, bytes.Bytes().size(), file) == bytes.Bytes().size();
    return std::fclose(file) == 0 && written;
}

TMemoryStream Image(const TLibStream& lib)
{
    TMemoryStream image;
    lib.SaveToStream(image);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = true;

    ok &= WriteSeed(folder, "empty", Image(TLibStream()));

    TLibStream one;
    auto classes =
        ListStream({Item(L"HKEY_CLASSES_ROOT\\CLSID\\{00000000-0000-0000-0000-000000000000}", L"*")});
    one.WriteEntry("rctClasses", &classes);
    ok &= WriteSeed(folder, "one-entry", Image(one));

    TLibStream three;
    auto exts = ListStream(
        {Item(L"HKEY_CLASSES_ROOT\\.xyz", L"*"), Item(L"HKEY_CLASSES_ROOT\\.abc", L"Content Type")});
    auto startup = ListStream(
        {Item(L"HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", L"Caf\u00E9"),
         L"<type>TCustomIgnoreItem</type><key>C:\\Tools</key><value>*</value>"
         L"<display>Tools</display><regex>.*tools.*</regex>",
         L""});
    auto software = ListStream({Item(L"HKEY_LOCAL_MACHINE\\Software\\\u65E5\u672C", L"*")});
    three.WriteEntry("rctFileExts", &exts);
    three.WriteEntry("rctStartup", &startup);
    three.WriteEntry("rctSoftware", &software);
    ok &= WriteSeed(folder, "three-entries", Image(three));

    TLibStream withEmpty;
    TMemoryStream nothing;
    withEmpty.WriteEntry("rctFonts", &nothing);
    withEmpty.WriteEntry("rctInternet", &classes);
    ok &= WriteSeed(folder, "empty-entry", Image(withEmpty));

    ok &= WriteSeed(folder, "list-only", startup);

    if (!ok)
        std::fprintf(stderr, "cannot write seeds into %s\n", folder.c_str());
    return ok ? 0 : 1;
}

#endif
