#include "com_object.h"

std::atomic<long> moduleUsers{0};

HRESULT QueryFromTable(void* self, const InterfaceEntry* table, REFIID riid, void** out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    for (const InterfaceEntry* e = table; e->iid != nullptr; ++e) {
        if (IsEqualIID(riid, *e->iid) || (e == table && IsEqualIID(riid, IID_IUnknown))) {
            IUnknown* unknown = e->get(self);
            unknown->AddRef();
            *out = unknown;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
