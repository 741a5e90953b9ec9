// Docuframe.dll: report generation. The engine writes its XML report through these calls.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tidyhive {

inline constexpr char kDocuframeLibrary[] = "Docuframe.dll";
inline constexpr char kReportGeneratorInstanceId[] = "{54C9E878-D667-4815-998D-F1282236CA55}";

// {A15099EC-73D9-4FC4-B943-B42C77979965}
inline constexpr IID IID_IAbstractReport = {
    0xA15099EC, 0x73D9, 0x4FC4, {0xB9, 0x43, 0xB4, 0x2C, 0x77, 0x97, 0x99, 0x65}};
struct IAbstractReport : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetFileName(BSTR* fileName) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE SetFileName(LPCWSTR fileName) = 0;  // 4
    // Writes the report file now (the writer also writes after every change).
    virtual HRESULT STDMETHODCALLTYPE Save() = 0;                       // 5
    virtual BOOL STDMETHODCALLTYPE GetAutoSave() = 0;                   // 6
    // Starts the report afresh.
    virtual void STDMETHODCALLTYPE Reset() = 0;                         // 7
    virtual void STDMETHODCALLTYPE SetAutoSave(BOOL value) = 0;         // 8
};

// {5ECC88EB-F62B-484D-8C89-2F40C0FECAB2}
inline constexpr IID IID_IXmlReport = {
    0x5ECC88EB, 0xF62B, 0x484D, {0x8C, 0x89, 0x2F, 0x40, 0xC0, 0xFE, 0xCA, 0xB2}};
struct IXmlReport : IAbstractReport {
    virtual void STDMETHODCALLTYPE OpenElement(LPCWSTR name) = 0;                     // 9
    virtual void STDMETHODCALLTYPE CloseElement() = 0;                                // 10
    // Closes the innermost open element of that name and everything still open inside it.
    virtual void STDMETHODCALLTYPE CloseElementNamed(LPCWSTR name) = 0;               // 11
    virtual void STDMETHODCALLTYPE SetAttribute(LPCWSTR name, LPCWSTR value) = 0;     // 12
};

// {623E1BD9-C3E5-4D0E-B49A-96349860E524}
inline constexpr IID IID_IReport = {
    0x623E1BD9, 0xC3E5, 0x4D0E, {0xB4, 0x9A, 0x96, 0x34, 0x98, 0x60, 0xE5, 0x24}};
struct IReport : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetXmlReport(IXmlReport** writer) = 0;  // 3
    virtual HRESULT STDMETHODCALLTYPE GetFileName(BSTR* fileName) = 0;        // 4
    virtual HRESULT STDMETHODCALLTYPE Save() = 0;                             // 5
};

// {54C9E878-D667-4815-998D-F1282236CA55}
inline constexpr IID IID_IReportManager = {
    0x54C9E878, 0xD667, 0x4815, {0x99, 0x8D, 0xF1, 0x28, 0x22, 0x36, 0xCA, 0x55}};
struct IReportManager : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE OpenReport(LPCWSTR fileName, IReport** report) = 0;  // 3
};

}  // namespace tidyhive
