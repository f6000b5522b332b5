// The base interface of every COM-style object of the platform layer.
#ifndef VELMORA_UNKNWN_H
#define VELMORA_UNKNWN_H

#include <windows.h>

#ifndef GUID_DEFINED
#define GUID_DEFINED
typedef struct _GUID {
    DWORD Data1;
    WORD Data2;
    WORD Data3;
    BYTE Data4[8];
} GUID;
#endif
typedef GUID IID;
typedef IID* LPIID;
#ifdef __cplusplus
typedef const IID& REFIID;
typedef const GUID& REFGUID;
#else
typedef const IID* REFIID;
typedef const GUID* REFGUID;
#endif

#define STDMETHODCALLTYPE
#define DECLARE_INTERFACE(iface) struct iface
#define DECLARE_INTERFACE_(iface, base) struct iface : public base

VELMORA_EXTERN_C_BEGIN
VELMORA_API extern const IID IID_IUnknown;
// Byte-wise comparison, as Windows' IsEqualGUID.
VELMORA_API BOOL VelmoraIsEqualGUID(const GUID* a, const GUID* b);
VELMORA_EXTERN_C_END

#ifdef __cplusplus
inline bool IsEqualGUID(REFGUID a, REFGUID b)
{
    return VelmoraIsEqualGUID(&a, &b) != 0;
}
inline bool IsEqualIID(REFIID a, REFIID b)
{
    return VelmoraIsEqualGUID(&a, &b) != 0;
}

struct IUnknown {
    virtual HRESULT WINAPI QueryInterface(REFIID riid, void** ppvObj) = 0;
    virtual ULONG WINAPI AddRef() = 0;
    virtual ULONG WINAPI Release() = 0;
};
typedef IUnknown* LPUNKNOWN;
#endif

#endif
