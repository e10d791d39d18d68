#pragma once
// What the Wi-Fi page reads from Windows, behind one table: the WLAN service, the default gateways
// of the Wi-Fi interface and the UPnP device finder. The product uses the real calls; tests, and
// window tests through install_wifi_calls, hand in fakes, since Wine has no Wi-Fi and no UPnP.
#include <functional>

#include "readings/upnp_interfaces.h"
#include "readings/wifi_scan.h"

namespace tarvisko {

// Makes the UPnP device finder; S_OK with a finder the caller releases, or a failure.
using UpnpFinderFactory = HRESULT (*)(IUPnPDeviceFinder** finder);

// The Windows device finder, created as an in-process server. Needs COM on the calling thread.
HRESULT create_upnp_device_finder(IUPnPDeviceFinder** finder);

struct WifiCalls {
    const WlanApi* wlan = &system_wlan_api();
    std::function<WifiGateways(const WLAN_INTERFACE_INFO&)> gateways =
        [](const WLAN_INTERFACE_INFO& interface_info) { return wifi_gateways(interface_info); };
    UpnpFinderFactory upnp_finder = &create_upnp_device_finder;
};

// The installed table, else the real calls.
const WifiCalls& wifi_calls();
// Makes `calls` the table of every later reading until it is replaced; null restores the real
// calls. The table must outlive its installation. Install before starting a reading, not during.
void install_wifi_calls(const WifiCalls* calls);

}  // namespace tarvisko
