#include "siblings/docuframe/XmlReport.h"

#include "siblings/docuframe/XmlText.h"

#include <algorithm>

namespace tidyhive::siblings {
namespace {

constexpr char kHeader[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<report>";
constexpr size_t kHeaderLength = sizeof(kHeader) - 1;
constexpr char kRootEnd[] = "\r\n</report>\r\n";

std::string LineStart(size_t depth)
{
    return "\r\n" + std::string(depth * 2, ' ');
}

std::wstring Text(LPCWSTR text)
{
    return text ? std::wstring(text) : std::wstring();
}

HRESULT LastError()
{
    const DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT WriteAll(HANDLE file, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
            return LastError();
        }
        done += written;
    }
    return S_OK;
}

HRESULT WriteNewFile(const std::wstring &fileName, const std::string &data, bool flush)
{
    TFileHandle file(CreateFileW(fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return LastError();
    }
    const HRESULT status = WriteAll(file.Get(), data);
    if (SUCCEEDED(status) && flush && !FlushFileBuffers(file.Get())) {
        return LastError();
    }
    return status;
}

} // namespace

// TXmlReport

TXmlReport::TXmlReport(std::wstring fileName) : fileName_(std::move(fileName)) {}

TXmlReport::~TXmlReport()
{
    WritePendingStartTag();
    if (dirty_) {
        Persist();
    }
}

HRESULT STDMETHODCALLTYPE TXmlReport::QueryInterface(REFIID iid, void **object)
{
    if (object && IsEqualIID(iid, IID_IAbstractReport)) {
        *object = static_cast<IAbstractReport *>(this);
        AddRef();
        return S_OK;
    }
    return TSiblingObject::QueryInterface(iid, object);
}

HRESULT STDMETHODCALLTYPE TXmlReport::GetFileName(BSTR *fileName)
{
    std::lock_guard guard(mutex_);
    return ReturnBstr(fileName_, fileName);
}

HRESULT STDMETHODCALLTYPE TXmlReport::SetFileName(LPCWSTR fileName)
{
    std::lock_guard guard(mutex_);
    if (!fileName || !*fileName) {
        return E_INVALIDARG;
    }
    fileName_ = fileName;
    onDisk_ = std::string::npos;
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TXmlReport::Save()
{
    std::lock_guard guard(mutex_);
    WritePendingStartTag();
    return Persist();
}

BOOL STDMETHODCALLTYPE TXmlReport::GetAutoSave()
{
    std::lock_guard guard(mutex_);
    return autoSave_ ? TRUE : FALSE;
}

void STDMETHODCALLTYPE TXmlReport::SetAutoSave(BOOL value)
{
    std::lock_guard guard(mutex_);
    autoSave_ = value != FALSE;
    if (autoSave_ && dirty_) {
        Persist();
    }
}

void STDMETHODCALLTYPE TXmlReport::Reset()
{
    std::lock_guard guard(mutex_);
    open_.clear();
    markup_.clear();
    onDisk_ = std::string::npos;
    Changed();
}

void STDMETHODCALLTYPE TXmlReport::OpenElement(LPCWSTR name)
{
    std::lock_guard guard(mutex_);
    const bool parentPending = !open_.empty() && !open_.back().written;
    if (parentPending) {
        WriteTopStartTag();
    }
    OpenElementState element;
    element.givenName = Text(name);
    element.name = XmlName(element.givenName);
    open_.push_back(std::move(element));
    if (parentPending) {
        Changed();
    }
}

void STDMETHODCALLTYPE TXmlReport::CloseElement()
{
    std::lock_guard guard(mutex_);
    if (open_.empty()) {
        return;
    }
    CloseTop();
    Changed();
}

void STDMETHODCALLTYPE TXmlReport::CloseElementNamed(LPCWSTR name)
{
    std::lock_guard guard(mutex_);
    const std::wstring wanted = Text(name);
    const auto innermost = std::find_if(open_.rbegin(), open_.rend(), [&](const OpenElementState &element) {
        return element.givenName == wanted;
    });
    if (innermost == open_.rend()) {
        return;
    }
    const size_t keep = static_cast<size_t>(open_.rend() - innermost) - 1;
    while (open_.size() > keep) {
        CloseTop();
    }
    Changed();
}

void STDMETHODCALLTYPE TXmlReport::SetAttribute(LPCWSTR name, LPCWSTR value)
{
    std::lock_guard guard(mutex_);
    if (open_.empty()) {
        return;
    }
    OpenElementState &element = open_.back();
    std::string attributeName = XmlName(Text(name));
    std::string attributeValue = XmlAttributeValue(Text(value));
    auto existing = std::find_if(element.attributes.begin(), element.attributes.end(),
                                 [&](const auto &attribute) { return attribute.first == attributeName; });
    if (existing != element.attributes.end()) {
        existing->second = std::move(attributeValue);
    } else {
        element.attributes.emplace_back(std::move(attributeName), std::move(attributeValue));
    }
    if (!element.written) {
        return; // the start tag is written when the element gets a child or closes
    }
    // The element already has children: its start tag is rewritten in place.
    const std::string tag = StartTag(element, open_.size(), false);
    markup_.replace(element.tagStart, element.tagLength, tag);
    element.tagLength = tag.size();
    if (onDisk_ != std::string::npos && element.tagStart < onDisk_) {
        onDisk_ = std::string::npos;
    }
    Changed();
}

std::string TXmlReport::StartTag(const OpenElementState &element, size_t depth, bool empty) const
{
    std::string tag = LineStart(depth) + "<" + element.name;
    for (const auto &[name, value] : element.attributes) {
        tag += " " + name + "=\"" + value + "\"";
    }
    tag += empty ? "/>" : ">";
    return tag;
}

std::string TXmlReport::Trailer() const
{
    std::string trailer;
    for (size_t i = open_.size(); i-- > 0;) {
        if (open_[i].written) {
            trailer += LineStart(i + 1) + "</" + open_[i].name + ">";
        }
    }
    return trailer + kRootEnd;
}

void TXmlReport::WriteTopStartTag()
{
    OpenElementState &element = open_.back();
    element.tagStart = markup_.size();
    const std::string tag = StartTag(element, open_.size(), false);
    markup_ += tag;
    element.tagLength = tag.size();
    element.written = true;
}

void TXmlReport::WritePendingStartTag()
{
    if (!open_.empty() && !open_.back().written) {
        WriteTopStartTag();
        dirty_ = true;
    }
}

void TXmlReport::CloseTop()
{
    const OpenElementState &element = open_.back();
    const size_t depth = open_.size();
    if (element.written) {
        markup_ += LineStart(depth) + "</" + element.name + ">";
    } else {
        markup_ += StartTag(element, depth, true);
    }
    open_.pop_back();
}

void TXmlReport::Changed()
{
    dirty_ = true;
    if (autoSave_) {
        Persist();
    }
}

HRESULT TXmlReport::Persist()
{
    HRESULT status = E_FAIL;
    if (onDisk_ != std::string::npos) {
        status = Append();
    }
    if (FAILED(status)) {
        status = RewriteWhole();
    }
    if (SUCCEEDED(status)) {
        dirty_ = false;
    }
    // The handle is held only while a section is being written, which keeps the many small
    // writes of a clean cheap, and lets go of the file between sections.
    if (open_.empty()) {
        file_.Reset();
    }
    return status;
}

HRESULT TXmlReport::Append()
{
    if (!file_.Valid()) {
        file_.Reset(CreateFileW(fileName_.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_.Valid()) {
            return LastError();
        }
    }
    // The new markup plus the new closing tags is never shorter than the closing tags it
    // overwrites (a closed element's end tag moves from the one into the other), so the
    // file needs no truncation and one write takes it from one whole document to the next.
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(kHeaderLength + onDisk_);
    HRESULT status = SetFilePointerEx(file_.Get(), offset, nullptr, FILE_BEGIN) ? S_OK : LastError();
    if (SUCCEEDED(status)) {
        status = WriteAll(file_.Get(), markup_.substr(onDisk_) + Trailer());
    }
    if (FAILED(status)) {
        file_.Reset();
        onDisk_ = std::string::npos;
        return status;
    }
    onDisk_ = markup_.size();
    return S_OK;
}

HRESULT TXmlReport::RewriteWhole()
{
    onDisk_ = std::string::npos;
    file_.Reset();
    const std::string document = kHeader + markup_ + Trailer();
    const std::wstring temporary = fileName_ + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    HRESULT status = WriteNewFile(temporary, document, true);
    if (SUCCEEDED(status) && !MoveFileExW(temporary.c_str(), fileName_.c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        status = LastError();
    }
    if (FAILED(status)) {
        DeleteFileW(temporary.c_str());
        // A reader holding the report without delete sharing blocks the replacement but
        // usually not a rewrite in place.
        status = WriteNewFile(fileName_, document, false);
    }
    if (SUCCEEDED(status)) {
        onDisk_ = markup_.size();
    }
    return status;
}

// TReport

TReport::TReport(const std::wstring &fileName) : writer_(new TXmlReport(fileName)) {}

TReport::~TReport()
{
    writer_->Release();
}

HRESULT STDMETHODCALLTYPE TReport::GetXmlReport(IXmlReport **writer)
{
    if (!writer) {
        return E_POINTER;
    }
    writer_->AddRef();
    *writer = writer_;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TReport::GetFileName(BSTR *fileName)
{
    return writer_->GetFileName(fileName);
}

HRESULT STDMETHODCALLTYPE TReport::Save()
{
    return writer_->Save();
}

// TReportManager

HRESULT STDMETHODCALLTYPE TReportManager::OpenReport(LPCWSTR fileName, IReport **report)
{
    if (!report) {
        return E_POINTER;
    }
    *report = nullptr;
    if (!fileName || !*fileName) {
        return E_INVALIDARG;
    }
    try {
        *report = new TReport(fileName);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace tidyhive::siblings
