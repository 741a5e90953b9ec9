// TVariant: owner of one VARIANT, cleared on destruction.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <new>
#include <string_view>

namespace tidyhive {

class TVariant {
public:
    TVariant() { VariantInit(&value_); }
    ~TVariant() { VariantClear(&value_); }
    TVariant(const TVariant &other) : TVariant()
    {
        if (FAILED(VariantCopy(&value_, const_cast<VARIANT *>(&other.value_)))) {
            throw std::bad_alloc();
        }
    }
    TVariant(TVariant &&other) noexcept : TVariant() { Swap(other); }
    TVariant &operator=(TVariant &&other) noexcept
    {
        Swap(other);
        return *this;
    }
    TVariant &operator=(const TVariant &other)
    {
        if (this != &other) {
            TVariant copy(other);
            Swap(copy);
        }
        return *this;
    }

    static TVariant Boolean(bool value)
    {
        TVariant result;
        result.value_.vt = VT_BOOL;
        result.value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
        return result;
    }
    static TVariant Integer(LONG value)
    {
        TVariant result;
        result.value_.vt = VT_I4;
        result.value_.lVal = value;
        return result;
    }
    // Throws std::bad_alloc when the text cannot be allocated.
    static TVariant Text(std::wstring_view value)
    {
        TVariant result;
        result.value_.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
        if (!result.value_.bstrVal) {
            throw std::bad_alloc();
        }
        result.value_.vt = VT_BSTR;
        return result;
    }

    // Takes a copy of a caller's variant, following a by-reference variant to its value so
    // that no pointer into the caller's memory is kept. On failure this is unchanged and
    // the error is answered (DISP_E_BADVARTYPE for a type COM does not know).
    HRESULT Assign(const VARIANT &source)
    {
        TVariant copy;
        const HRESULT status = VariantCopyInd(&copy.value_, const_cast<VARIANT *>(&source));
        if (SUCCEEDED(status)) {
            Swap(copy);
        }
        return status;
    }
    // Copies into a caller's variant, which is initialised first (an out-argument).
    HRESULT CopyTo(VARIANT *target) const
    {
        VariantInit(target);
        return VariantCopy(target, const_cast<VARIANT *>(&value_));
    }

    const VARIANT &Get() const { return value_; }
    VARTYPE Type() const { return value_.vt; }

    void Swap(TVariant &other) noexcept
    {
        const VARIANT held = value_;
        value_ = other.value_;
        other.value_ = held;
    }

private:
    VARIANT value_;
};

} // namespace tidyhive
