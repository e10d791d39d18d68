#pragma once
// The three interfaces of the Windows UPnP control point that the router identification uses,
// declared here because MinGW-w64 ships no upnp.h. Identifiers and method order are those of the
// Windows SDK, so the tables match the real objects. The property getters hand out BSTRs that the
// caller frees with SysFreeString.
#include <oaidl.h>
#include <windows.h>

namespace tarvisko {

struct IUPnPDevice;
struct IUPnPDevices;

// {ADDA3D55-6F72-4319-BFF9-18600A539B10}
inline constexpr IID iid_upnp_device_finder = {
    0xADDA3D55, 0x6F72, 0x4319, {0xBF, 0xF9, 0x18, 0x60, 0x0A, 0x53, 0x9B, 0x10}};
// {FDBC0C73-BDA3-4C66-AC4F-F2D96FDAD68C}
inline constexpr IID iid_upnp_devices = {
    0xFDBC0C73, 0xBDA3, 0x4C66, {0xAC, 0x4F, 0xF2, 0xD9, 0x6F, 0xDA, 0xD6, 0x8C}};
// {3D44D0D1-98C9-4889-ACD1-F9D674BF2221}
inline constexpr IID iid_upnp_device = {
    0x3D44D0D1, 0x98C9, 0x4889, {0xAC, 0xD1, 0xF9, 0xD6, 0x74, 0xBF, 0x22, 0x21}};
// The device finder object of upnp.dll (in-process server): {E2085F28-FEB7-404A-B8E7-E659BDEAAA02}
inline constexpr CLSID clsid_upnp_device_finder = {
    0xE2085F28, 0xFEB7, 0x404A, {0xB8, 0xE7, 0xE6, 0x59, 0xBD, 0xEA, 0xAA, 0x02}};

struct IUPnPDeviceFinder : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE FindByType(BSTR type_uri, DWORD flags,
                                                 IUPnPDevices** devices) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateAsyncFind(BSTR type_uri, DWORD flags,
                                                      IUnknown* callback, LONG* find_data) = 0;
    virtual HRESULT STDMETHODCALLTYPE StartAsyncFind(LONG find_data) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelAsyncFind(LONG find_data) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindByUDN(BSTR udn, IUPnPDevice** device) = 0;
};

struct IUPnPDevices : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
    // An object that answers IEnumVARIANT (or IEnumUnknown) over the devices.
    virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** enumerator) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Item(BSTR udn, IUPnPDevice** device) = 0;
};

struct IUPnPDevice : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_IsRootDevice(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RootDevice(IUPnPDevice** device) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ParentDevice(IUPnPDevice** device) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_HasChildren(VARIANT_BOOL* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Children(IUPnPDevices** devices) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UniqueDeviceName(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FriendlyName(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Type(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PresentationURL(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ManufacturerName(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ManufacturerURL(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ModelName(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ModelNumber(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Description(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ModelURL(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UPC(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SerialNumber(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE IconURL(BSTR encoding_format, LONG size_x, LONG size_y,
                                              LONG bit_depth, BSTR* url) = 0;
    // An IUPnPServices collection, which nothing here reads.
    virtual HRESULT STDMETHODCALLTYPE get_Services(IUnknown** services) = 0;
};

}  // namespace tarvisko
