#pragma once
// Naming the router and reaching its panel: the panel address from the Wi-Fi interface's default
// gateway, the access point's model from the WPS data of its beacon, the internet gateway's model
// from its UPnP announcement, and how to change the channel for the recognised brand. Every
// reading degrades to an empty text; nothing here throws but memory.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "readings/wifi_calls.h"

namespace tarvisko {

// The WPS texts of an access point, as the beacon carries them (at most 64 bytes each).
struct WpsDeviceInfo {
    std::string manufacturer;
    std::string model_name;
    std::string model_number;
};

// The host of the panel address: the IPv4 gateway, else the IPv6 gateway in brackets; empty for
// none or for a link-local gateway with a zone index, which browsers do not open.
std::wstring router_panel_host(const WifiGateways& gateways);
// "http://" + host + "/", or empty without a host.
std::wstring router_panel_address(const WifiGateways& gateways);
// The panel address of the Wi-Fi interface's current gateway, or empty. Opens and closes its own
// WLAN handle.
std::wstring resolve_router_panel(const WifiCalls& calls = wifi_calls());

// The WPS texts found among the information elements of one scanned network entry.
WpsDeviceInfo wps_device_info(std::span<const std::uint8_t> elements);
// Updates `info` from one element: only a vendor element 221 with the WPS header 00 50 F2 04.
void parse_wps_ie(WpsDeviceInfo& info, std::uint8_t id, std::span<const std::uint8_t> element);
// "Maker Model Number", leaving out what the other texts already hold; empty without a model.
std::wstring device_model_text(const WpsDeviceInfo& info);

// The model of the UPnP internet gateway whose presentation address names `gateway_host`, as
// "Maker Model"; empty when none answers. Synchronous (the finder may take seconds); initialises
// COM (multithreaded) on the calling thread for the call and looks at most at 32 devices.
std::wstring discover_upnp_gateway(std::wstring_view gateway_host,
                                   UpnpFinderFactory factory = wifi_calls().upnp_finder);

// Property readers of a device: the text, or empty on a failed call or a null string.
std::wstring upnp_presentation_url(IUPnPDevice* device);
std::wstring upnp_model_name(IUPnPDevice* device);
std::wstring upnp_manufacturer_name(IUPnPDevice* device);

// The how-to for changing the Wi-Fi channel: the recognised device (or the plea to look at the
// sticker), the channel advice, the steps, the brand's block (all five when no brand is
// recognised) and the closing paragraph.
std::wstring router_channel_instructions(std::wstring_view model, std::wstring_view advice);

}  // namespace tarvisko
