#include "readings/router_identity.h"

#include <winhttp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "engine/common/display_text.h"
#include "engine/common/handle_guard.h"
#include "engine/common/text.h"

namespace tarvisko {
namespace {

constexpr std::array<std::uint8_t, 4> wps_header{0x00, 0x50, 0xF2, 0x04};
constexpr std::uint16_t wps_manufacturer = 0x1021;
constexpr std::uint16_t wps_model_name = 0x1023;
constexpr std::uint16_t wps_model_number = 0x1024;
constexpr std::size_t wps_value_limit = 64;
constexpr int upnp_device_limit = 32;
constexpr const wchar_t* gateway_device_type =
    L"urn:schemas-upnp-org:device:InternetGatewayDevice:1";

template <typename T>
HandleGuard<T*> com_guard(T* object) {
    return HandleGuard<T*>(object, [](T* held) { held->Release(); });
}

void free_bstr(BSTR text) { SysFreeString(text); }

bool contains(std::wstring_view text, std::wstring_view part) {
    return text.find(part) != std::wstring_view::npos;
}

std::uint16_t big_endian16(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// A WPS text without its trailing blanks and zero bytes; nothing when a control byte remains.
std::optional<std::string> wps_value(std::span<const std::uint8_t> value) {
    std::size_t length = value.size();
    while (length > 0 && (value[length - 1] == ' ' || value[length - 1] == 0)) --length;
    const auto kept = value.first(length);
    if (std::any_of(kept.begin(), kept.end(),
                    [](std::uint8_t byte) { return byte < 0x20 || byte == 0x7F; })) {
        return std::nullopt;
    }
    return std::string(kept.begin(), kept.end());
}

// "maker text", unless the maker is empty or already named inside the text.
std::wstring with_maker(const std::wstring& maker, const std::wstring& text) {
    if (maker.empty() || contains(text, maker)) return text;
    return maker + L" " + text;
}

std::wstring read_property(IUPnPDevice* device,
                           HRESULT (STDMETHODCALLTYPE IUPnPDevice::*getter)(BSTR*)) {
    if (device == nullptr) return {};
    BSTR raw = nullptr;
    const HRESULT result = (device->*getter)(&raw);
    const HandleGuard<BSTR> text(raw, &free_bstr);
    if (FAILED(result) || text.get() == nullptr) return {};
    return std::wstring(text.get(), SysStringLen(text.get()));
}

// The host of a presentation address with scheme http or https; nothing for any other address.
std::optional<std::wstring> presentation_host(const std::wstring& url) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return std::nullopt;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
        return std::nullopt;
    }
    std::wstring host(parts.lpszHostName != nullptr ? parts.lpszHostName : L"",
                      parts.lpszHostName != nullptr ? parts.dwHostNameLength : 0);
    // Wine leaves a query or fragment that follows the host inside the host name.
    host.resize(std::min(host.size(), host.find_first_of(L"?#")));
    return host;
}

// The model text of one found device when its presentation host is the gateway, else empty.
std::wstring gateway_model(IUPnPDevice* device, std::wstring_view gateway_host) {
    const std::wstring url = upnp_presentation_url(device);
    if (url.empty()) return {};
    const std::optional<std::wstring> host = presentation_host(url);
    if (!host || *host != gateway_host) return {};
    const std::wstring model = sanitize_display_text(upnp_model_name(device));
    if (model.empty()) return {};
    return with_maker(sanitize_display_text(upnp_manufacturer_name(device)), model);
}

std::wstring search_gateway(IUPnPDeviceFinder* finder, std::wstring_view gateway_host) {
    const HandleGuard<BSTR> type(SysAllocString(gateway_device_type), &free_bstr);
    if (!type) return {};
    IUPnPDevices* raw_devices = nullptr;
    const HRESULT found = finder->FindByType(type.get(), 0, &raw_devices);
    const auto devices = com_guard(raw_devices);
    if (FAILED(found) || !devices) return {};

    IUnknown* raw_unknown = nullptr;
    const HRESULT listed = devices.get()->get__NewEnum(&raw_unknown);
    const auto unknown = com_guard(raw_unknown);
    if (FAILED(listed) || !unknown) return {};
    IEnumVARIANT* raw_enumerator = nullptr;
    if (FAILED(unknown.get()->QueryInterface(IID_IEnumVARIANT,
                                             reinterpret_cast<void**>(&raw_enumerator)))) {
        return {};
    }
    const auto enumerator = com_guard(raw_enumerator);
    if (!enumerator) return {};

    for (int taken = 0; taken < upnp_device_limit; ++taken) {
        VARIANT item;
        VariantInit(&item);
        ULONG fetched = 0;
        if (enumerator.get()->Next(1, &item, &fetched) != S_OK) {
            VariantClear(&item);
            break;
        }
        IUPnPDevice* raw_device = nullptr;
        IUnknown* object = item.vt == VT_DISPATCH  ? item.pdispVal
                           : item.vt == VT_UNKNOWN ? item.punkVal
                                                   : nullptr;
        if (object != nullptr) {
            if (FAILED(object->QueryInterface(iid_upnp_device,
                                              reinterpret_cast<void**>(&raw_device)))) {
                raw_device = nullptr;
            }
        }
        VariantClear(&item);
        const auto device = com_guard(raw_device);
        if (!device) continue;
        std::wstring model = gateway_model(device.get(), gateway_host);
        if (!model.empty()) return model;
    }
    return {};
}

std::wstring lowered(std::wstring_view text) {
    std::wstring result(text);
    if (!result.empty()) CharLowerBuffW(result.data(), static_cast<DWORD>(result.size()));
    return result;
}

constexpr const wchar_t* dlink_block =
    L"D-Link\r\n"
    L"• Nowszy panel: Settings (Ustawienia) → Wireless (Wi-Fi) → Advanced Settings (Ustawienia "
    L"zaawansowane) pod wybranym pasmem, np. 5 GHz. Z listy Wi-Fi Channel wybierz kanał i kliknij "
    L"Save. Jeśli pola nie widać, sprawdź, czy włączony jest Smart Connect.\r\n"
    L"• Starszy panel: Setup → Wireless Settings → Manual Wireless Connection Setup. W sekcji "
    L"wybranego pasma wyłącz Enable Auto Channel Scan, wybierz Wireless Channel i kliknij Save "
    L"Settings.";
constexpr const wchar_t* archer_block =
    L"TP-Link Archer i klasyczne routery TP-Link\r\n"
    L"W panelu wybierz Zaawansowane → Sieć bezprzewodowa → Ustawienia sieci bezprzewodowej. "
    L"Wybierz pasmo, ustaw Kanał i zapisz.";
constexpr const wchar_t* deco_block =
    L"TP-Link Deco\r\n"
    L"W aplikacji Deco wybierz Więcej → Ustawienia Wi-Fi → 2,4 GHz i 5 GHz → Zaawansowane. Jeśli "
    L"model udostępnia wybór, ustaw kanał dla wybranego pasma. W pozostałych modelach użyj Więcej "
    L"→ Optymalizacja sieci.";
constexpr const wchar_t* mercusys_block =
    L"MERCUSYS\r\n"
    L"W panelu wybierz Zaawansowane → Sieć bezprzewodowa → Ustawienia Wi-Fi. Wybierz pasmo, ustaw "
    L"Kanał i zapisz.";
constexpr const wchar_t* halo_block =
    L"MERCUSYS Halo\r\n"
    L"W aplikacji MERCUSYS wybierz Więcej → Optymalizacja sieci i uruchom optymalizację, jeśli "
    L"jest dostępna w tym modelu.";

struct BrandBlock {
    std::array<const wchar_t*, 3> keywords;  // tested in order; null ends the list
    const wchar_t* block;
};
// Tested in this order: a Deco or Halo model also names its maker's other keywords.
constexpr std::array<BrandBlock, 5> brand_blocks{{
    {{L"deco", nullptr, nullptr}, deco_block},
    {{L"halo", nullptr, nullptr}, halo_block},
    {{L"mercusys", nullptr, nullptr}, mercusys_block},
    {{L"tp-link", L"tplink", L"archer"}, archer_block},
    {{L"d-link", L"dlink", L"dir-"}, dlink_block},
}};

}  // namespace

std::wstring router_panel_host(const WifiGateways& gateways) {
    if (!gateways.ipv4.empty()) return gateways.ipv4;
    if (gateways.ipv6.empty() || contains(gateways.ipv6, L"%")) return {};
    return L"[" + gateways.ipv6 + L"]";
}

std::wstring router_panel_address(const WifiGateways& gateways) {
    const std::wstring host = router_panel_host(gateways);
    if (host.empty()) return {};
    return L"http://" + host + L"/";
}

std::wstring resolve_router_panel(const WifiCalls& calls) {
    HANDLE raw = nullptr;
    DWORD error = 0;
    const std::optional<WLAN_INTERFACE_INFO> chosen = open_wifi_interface(*calls.wlan, raw, error);
    const std::unique_ptr<void, wlan_handle_closer> handle(raw, wlan_handle_closer{calls.wlan});
    if (!chosen) return {};
    return router_panel_address(calls.gateways(*chosen));
}

WpsDeviceInfo wps_device_info(std::span<const std::uint8_t> elements) {
    WpsDeviceInfo info;
    std::size_t at = 0;
    while (elements.size() - at >= 2) {
        const std::uint8_t id = elements[at];
        const std::size_t length = elements[at + 1];
        if (elements.size() - at - 2 < length) break;
        parse_wps_ie(info, id, elements.subspan(at + 2, length));
        at += 2 + length;
    }
    return info;
}

void parse_wps_ie(WpsDeviceInfo& info, std::uint8_t id, std::span<const std::uint8_t> element) {
    if (id != 221 || element.size() < wps_header.size() ||
        !std::equal(wps_header.begin(), wps_header.end(), element.begin())) {
        return;
    }
    std::span<const std::uint8_t> rest = element.subspan(wps_header.size());
    while (rest.size() >= 4) {
        const std::uint16_t type = big_endian16(rest.data());
        const std::size_t length = big_endian16(rest.data() + 2);
        if (length > rest.size() - 4) break;
        const auto value = rest.subspan(4, length);
        rest = rest.subspan(4 + length);

        std::string* field = type == wps_manufacturer   ? &info.manufacturer
                             : type == wps_model_name   ? &info.model_name
                             : type == wps_model_number ? &info.model_number
                                                        : nullptr;
        if (field == nullptr || length < 1 || length > wps_value_limit) continue;
        if (std::optional<std::string> text = wps_value(value)) *field = std::move(*text);
    }
}

std::wstring device_model_text(const WpsDeviceInfo& info) {
    const std::wstring maker = sanitize_display_text(to_wide(info.manufacturer));
    const std::wstring name = sanitize_display_text(to_wide(info.model_name));
    const std::wstring number = sanitize_display_text(to_wide(info.model_number));
    std::wstring text = name;
    if (text.empty()) {
        text = number;
    } else if (!number.empty() && !contains(name, number)) {
        text = name + L" " + number;
    }
    if (text.empty()) return {};
    return with_maker(maker, text);
}

std::wstring discover_upnp_gateway(std::wstring_view gateway_host, UpnpFinderFactory factory) {
    if (gateway_host.empty()) return {};
    const HRESULT initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(initialised)) return {};
    // S_FALSE (COM was already multithreaded here) also needs its CoUninitialize.
    const HandleGuard<int> uninitialise(1, [](int) { CoUninitialize(); });

    IUPnPDeviceFinder* raw_finder = nullptr;
    const HRESULT created = factory != nullptr ? factory(&raw_finder) : E_POINTER;
    const auto finder = com_guard(raw_finder);
    if (FAILED(created) || !finder) return {};
    return search_gateway(finder.get(), gateway_host);
}

HRESULT create_upnp_device_finder(IUPnPDeviceFinder** finder) {
    return CoCreateInstance(clsid_upnp_device_finder, nullptr, CLSCTX_INPROC_SERVER,
                            iid_upnp_device_finder, reinterpret_cast<void**>(finder));
}

std::wstring upnp_presentation_url(IUPnPDevice* device) {
    return read_property(device, &IUPnPDevice::get_PresentationURL);
}

std::wstring upnp_model_name(IUPnPDevice* device) {
    return read_property(device, &IUPnPDevice::get_ModelName);
}

std::wstring upnp_manufacturer_name(IUPnPDevice* device) {
    return read_property(device, &IUPnPDevice::get_ManufacturerName);
}

std::wstring router_channel_instructions(std::wstring_view model, std::wstring_view advice) {
    const std::wstring lower = lowered(model);
    std::wstring text = model.empty() ? std::wstring(
                                            L"Model urządzenia jest nieznany. Sprawdź "
                                            L"naklejkę na routerze lub nazwę w aplikacji "
                                            L"producenta.")
                                      : L"Rozpoznane urządzenie · " + std::wstring(model);
    if (!advice.empty()) text += L"\r\n\r\n" + std::wstring(advice);
    text +=
        L"\r\n\r\n1. W zakładce Wi-Fi kliknij „Zarządzaj routerem” i zaloguj się w przeglądarce."
        L"\r\n2. Wybierz instrukcję dla swojej marki, a w panelu pasmo, którego kanał chcesz "
        L"zmienić.\r\n\r\n";

    const auto recognised =
        std::find_if(brand_blocks.begin(), brand_blocks.end(), [&lower](const BrandBlock& brand) {
            return std::any_of(brand.keywords.begin(), brand.keywords.end(),
                               [&lower](const wchar_t* keyword) {
                                   return keyword != nullptr && contains(lower, keyword);
                               });
        });
    if (recognised != brand_blocks.end()) {
        text += recognised->block;
    } else {
        for (const wchar_t* block :
             {dlink_block, archer_block, deco_block, mercusys_block, halo_block}) {
            text += block;
            text += L"\r\n\r\n";
        }
    }
    text +=
        L"\r\n\r\nNazwy menu zależą od oprogramowania. Jeśli panel wymaga HTTPS, wpisz w "
        L"przeglądarce https:// i ten sam adres. Zaloguj się własnymi danymi administratora. Po "
        L"zapisaniu ustawień połącz się ponownie i powtórz skan. Zmiana kanału może chwilowo "
        L"rozłączyć urządzenia.";
    return text;
}

}  // namespace tarvisko
