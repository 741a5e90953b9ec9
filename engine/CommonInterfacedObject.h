// Base of every engine object that crosses the library boundary. QueryInterface answers
// the interfaces the class lists; AddRef and Release are inert, since objects are freed
// by their owners, never by reference counts.
#pragma once

#include "tidyhive/Tidyhive.h"

#include <windows.h>

#include <tuple>
#include <type_traits>

namespace tidyhive {

// Identifier each engine interface answers to.
template <class I>
struct InterfaceId;
#define TIDYHIVE_INTERFACE_ID(Interface, Id)                                                                 \
    template <>                                                                                               \
    struct InterfaceId<Interface> {                                                                           \
        static constexpr const IID& value = Id;                                                               \
    }
TIDYHIVE_INTERFACE_ID(IRegistryCleanerManager, IID_IRegistryCleanerManager);
TIDYHIVE_INTERFACE_ID(ICategoryCollection, IID_ICategoryCollection);
TIDYHIVE_INTERFACE_ID(ICategoryScanner, IID_ICategoryScanner);
TIDYHIVE_INTERFACE_ID(IValidationAlgorithm, IID_IValidationAlgorithm);
TIDYHIVE_INTERFACE_ID(IFileNameValidator, IID_IFileNameValidator);
TIDYHIVE_INTERFACE_ID(IDetectedProblemKey, IID_IDetectedProblemKey);
TIDYHIVE_INTERFACE_ID(IKeysCollection, IID_IKeysCollection);
TIDYHIVE_INTERFACE_ID(IDetectedProblemKeysCollection, IID_IDetectedProblemKeysCollection);
TIDYHIVE_INTERFACE_ID(IDetectedProblemKeysStatistics, IID_IDetectedProblemKeysStatistics);
TIDYHIVE_INTERFACE_ID(IIgnoreItem, IID_IIgnoreItem);
TIDYHIVE_INTERFACE_ID(IIgnoreList, IID_IIgnoreList);
TIDYHIVE_INTERFACE_ID(IRegistryCleanerOptions, IID_IRegistryCleanerOptions);
TIDYHIVE_INTERFACE_ID(IEventManager, IID_IEventManager);
TIDYHIVE_INTERFACE_ID(ILogManager, IID_ILogManager);
TIDYHIVE_INTERFACE_ID(IEngineTask, IID_IEngineTask);
TIDYHIVE_INTERFACE_ID(IScanTask, IID_IEngineTask);
TIDYHIVE_INTERFACE_ID(ICleanTask, IID_IEngineTask);
#undef TIDYHIVE_INTERFACE_ID

template <class... Interfaces>
class TCommonInterfacedObject : public Interfaces... {
    static_assert(sizeof...(Interfaces) > 0, "an interfaced object implements at least one interface");

public:
    TCommonInterfacedObject() = default;
    TCommonInterfacedObject(const TCommonInterfacedObject&) = delete;
    TCommonInterfacedObject& operator=(const TCommonInterfacedObject&) = delete;
    virtual ~TCommonInterfacedObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object) {
            return E_POINTER;
        }
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown)) {
            *object = static_cast<First*>(this);
            return S_OK;
        }
        const bool found = (Match<Interfaces>(iid, object) || ...);
        return found ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

private:
    using First = std::tuple_element_t<0, std::tuple<Interfaces...>>;

    template <class I>
    bool Match(REFIID iid, void** object)
    {
        if (IsEqualIID(iid, InterfaceId<I>::value)) {
            *object = static_cast<I*>(this);
            return true;
        }
        return false;
    }
};

}  // namespace tidyhive
