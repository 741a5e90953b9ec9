// The XML report: an element tree written to one UTF-8 file.
//
// The file on disk is kept well-formed at every moment, cheaply even for tens of
// thousands of elements. Finished markup only ever grows at its end, so each change
// overwrites the old closing tags with the new markup followed by the closing tags of
// the elements still open: one write per change, proportional to the change. Only a
// change that rewrites markup already on disk (Reset, a new file name, an attribute set
// on an element that already has children) rewrites the whole document, into a
// temporary file that then replaces the report in one step.
#pragma once

#include "siblings/common/SiblingObject.h"
#include "tidyhive/Docuframe.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace tidyhive::siblings {

TIDYHIVE_SIBLING_INTERFACE(IXmlReport, IID_IXmlReport);
TIDYHIVE_SIBLING_INTERFACE(IReport, IID_IReport);
TIDYHIVE_SIBLING_INTERFACE(IReportManager, IID_IReportManager);

// Owner of a file handle.
class TFileHandle {
public:
    TFileHandle() = default;
    explicit TFileHandle(HANDLE handle) : handle_(handle) {}
    ~TFileHandle() { Reset(); }
    TFileHandle(const TFileHandle &) = delete;
    TFileHandle &operator=(const TFileHandle &) = delete;

    bool Valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (Valid()) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class TXmlReport : public TSiblingObject<IXmlReport> {
public:
    explicit TXmlReport(std::wstring fileName);
    ~TXmlReport() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **object) override;

    HRESULT STDMETHODCALLTYPE GetFileName(BSTR *fileName) override;
    // A new name: the whole document goes to the new file at the next write.
    HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR fileName) override;
    HRESULT STDMETHODCALLTYPE Save() override;
    BOOL STDMETHODCALLTYPE GetAutoSave() override;
    void STDMETHODCALLTYPE Reset() override;
    // With auto-save off the file changes only at Save and at the last Release. Both also
    // write the innermost element, which auto-save leaves out until it is closed or gets
    // a child.
    void STDMETHODCALLTYPE SetAutoSave(BOOL value) override;

    void STDMETHODCALLTYPE OpenElement(LPCWSTR name) override;
    void STDMETHODCALLTYPE CloseElement() override;
    void STDMETHODCALLTYPE CloseElementNamed(LPCWSTR name) override;
    // Sets (or replaces) an attribute of the innermost open element; nothing when no
    // element is open.
    void STDMETHODCALLTYPE SetAttribute(LPCWSTR name, LPCWSTR value) override;

private:
    struct OpenElementState {
        std::wstring givenName; // as the caller named it, for CloseElementNamed
        std::string name;       // as written
        std::vector<std::pair<std::string, std::string>> attributes;
        bool written = false; // start tag is part of markup_
        size_t tagStart = 0;  // span of the start tag in markup_ once written
        size_t tagLength = 0;
    };

    std::string StartTag(const OpenElementState &element, size_t depth, bool empty) const;
    std::string Trailer() const;
    void WriteTopStartTag();
    // Puts the innermost element on disk too, though it may still gain attributes.
    void WritePendingStartTag();
    void CloseTop();
    void Changed();
    HRESULT Persist();
    HRESULT RewriteWhole();
    HRESULT Append();

    std::mutex mutex_;
    std::wstring fileName_;
    bool autoSave_ = true;
    bool dirty_ = false;
    std::vector<OpenElementState> open_;
    // Finished markup after the root's start tag: everything but the closing tags of the
    // elements still open.
    std::string markup_;
    // How much of markup_ the file holds; npos when the file must be rewritten whole.
    size_t onDisk_ = std::string::npos;
    TFileHandle file_; // for appends, while elements are open
};

// A report: its file and its XML writer.
class TReport : public TSiblingObject<IReport> {
public:
    explicit TReport(const std::wstring &fileName);
    ~TReport() override;

    HRESULT STDMETHODCALLTYPE GetXmlReport(IXmlReport **writer) override;
    HRESULT STDMETHODCALLTYPE GetFileName(BSTR *fileName) override;
    HRESULT STDMETHODCALLTYPE Save() override;

private:
    TXmlReport *writer_;
};

class TReportManager : public TSiblingObject<IReportManager> {
public:
    // A new, empty report for the file; the file is not touched until the report changes.
    HRESULT STDMETHODCALLTYPE OpenReport(LPCWSTR fileName, IReport **report) override;
};

} // namespace tidyhive::siblings
