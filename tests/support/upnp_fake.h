#pragma once
// A UPnP device finder for tests, behind the hand-declared UPnP interfaces: Wine has no upnp.dll,
// so the gateway search runs against these COM objects. Each found device takes its presentation
// address, model and maker from a device description (the XML a router publishes at its
// description address; fixtures in tests/support/upnp/). Every object counts AddRef and Release,
// so a test can check that each reference handed out came back.
//
// One FakeUpnp at a time: its constructor installs it as the target of `factory()`.
#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "readings/upnp_interfaces.h"

namespace tarvisko::test {

// One device the search finds.
struct FakeUpnpDevice {
    std::wstring presentation_url;
    std::wstring model_name;
    std::wstring manufacturer;
    // How the enumerator hands it out: VT_DISPATCH or VT_UNKNOWN carry the device; VT_BSTR (its
    // UDN text) and VT_EMPTY carry no object.
    VARTYPE handed_as = VT_DISPATCH;
    bool answers_device = true;      // QueryInterface for IUPnPDevice succeeds
    HRESULT property_result = S_OK;  // what the three getters answer
    bool null_strings = false;       // the getters succeed with a null string
};

// The root device of a device description: its own presentationURL, modelName and manufacturer
// (not those of embedded devices), with XML character references decoded.
FakeUpnpDevice upnp_device_from_description(std::string_view xml);
// tests/support/upnp/<name>.xml of the source tree.
std::string upnp_description_fixture(const std::string& name);
// The description with the text of the root device's first element <name> replaced by `text`
// (written as it stands, so it may carry character references).
std::string with_upnp_element(std::string xml, std::string_view name, std::string_view text);

class FakeUpnp {
  public:
    FakeUpnp();
    ~FakeUpnp();
    FakeUpnp(const FakeUpnp&) = delete;
    FakeUpnp& operator=(const FakeUpnp&) = delete;

    // The finder factory that answers from the installed fake.
    static HRESULT factory(IUPnPDeviceFinder** finder);

    // Chosen answers.
    std::vector<FakeUpnpDevice> devices;
    HRESULT create_result = S_OK;
    HRESULT find_result = S_OK;
    bool find_gives_collection = true;
    HRESULT enum_result = S_OK;              // get__NewEnum
    bool enumerator_answers_variant = true;  // the enumerator answers IEnumVARIANT

    // What the code under test did.
    int finders_created = 0;
    int find_calls = 0;
    std::wstring searched_type;
    DWORD searched_flags = 0xFFFFFFFF;
    int next_calls = 0;
    std::vector<std::size_t> devices_examined;  // indexes whose presentation address was read
    bool com_initialised_at_create = false;     // COM was multithreaded on the creating thread

    long add_refs() const;
    long releases() const;
    // GoogleTest expectations: every object handed out is released back to no references, and
    // none was released more often than referenced.
    void expect_released() const;

    struct Object;  // the COM objects, owned here so that a stray reference never dangles

  private:
    friend struct FakeUpnpAccess;
    std::vector<std::unique_ptr<Object>> objects_;
};

}  // namespace tarvisko::test
