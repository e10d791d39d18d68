#include "readings/router_identity.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/upnp_fake.h"
#include "support/wifi_fixtures.h"
#include "support/wlan_fake.h"

namespace tarvisko {
namespace {

using test::Bytes;
using test::FakeUpnpDevice;
using test::WpsAttribute;

// Gateways answered for whatever interface the code chose; records the choice.
struct FixedGateways {
    WifiGateways answer;
    std::optional<GUID> asked_for{};
    std::function<WifiGateways(const WLAN_INTERFACE_INFO&)> call() {
        return [this](const WLAN_INTERFACE_INFO& info) {
            asked_for = info.InterfaceGuid;
            return answer;
        };
    }
};

TEST(RouterPanel, AddressFromTheGateways) {
    const struct {
        const wchar_t* ipv4;
        const wchar_t* ipv6;
        const wchar_t* host;
        const wchar_t* address;
    } cases[] = {
        {L"192.168.1.1", L"", L"192.168.1.1", L"http://192.168.1.1/"},
        {L"192.168.1.1", L"2001:db8::1", L"192.168.1.1", L"http://192.168.1.1/"},
        {L"", L"2001:db8::1", L"[2001:db8::1]", L"http://[2001:db8::1]/"},
        {L"", L"fe80::1%12", L"", L""},
        {L"10.0.0.1", L"fe80::1%12", L"10.0.0.1", L"http://10.0.0.1/"},
        {L"", L"", L"", L""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ipv4 << " / " << c.ipv6);
        const WifiGateways gateways{c.ipv4, c.ipv6};
        EXPECT_EQ(router_panel_host(gateways), c.host);
        EXPECT_EQ(router_panel_address(gateways), c.address);
    }
}

TEST(RouterPanel, ResolvedForTheChosenInterface) {
    const auto connection = test::wlan_connection("Dom", test::test_bssid(1));
    test::FakeWlanInterface idle;
    idle.guid = test::test_guid(1);
    const struct {
        const char* name;
        DWORD open_result;
        std::vector<test::FakeWlanInterface> interfaces;
        WifiGateways gateways;
        const wchar_t* address;
        std::optional<std::uint32_t> asked_for;
    } cases[] = {
        {"connected second adapter",
         0,
         {idle, test::connected_wlan_interface(2, connection, -50, 6)},
         {L"192.168.1.1", L"fe80::1%7"},
         L"http://192.168.1.1/",
         2},
        {"only a link-local gateway",
         0,
         {test::connected_wlan_interface(3, connection, -50, 6)},
         {L"", L"fe80::1%7"},
         L"",
         3},
        {"no adapter", 0, {}, {L"192.168.1.1", L""}, L"", std::nullopt},
        {"service off", ERROR_SERVICE_NOT_ACTIVE, {idle}, {L"192.168.1.1", L""}, L"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::FakeWlan wlan;
        wlan.open_result = c.open_result;
        wlan.interfaces = c.interfaces;
        FixedGateways gateways{c.gateways};
        WifiCalls calls;
        calls.wlan = &wlan.api();
        calls.gateways = gateways.call();
        EXPECT_EQ(resolve_router_panel(calls), c.address);
        ASSERT_EQ(gateways.asked_for.has_value(), c.asked_for.has_value());
        if (c.asked_for) {
            EXPECT_TRUE(IsEqualGUID(*gateways.asked_for, test::test_guid(*c.asked_for)));
        }
        wlan.expect_released();
    }
}

TEST(RouterPanel, RealWlanUnderWineHasNoPanel) {
    // Wine lists no wireless interface.
    EXPECT_EQ(resolve_router_panel(), L"");
}

WpsAttribute raw_attribute(std::uint16_t type, const std::string& bytes) {
    return {type, Bytes(bytes.begin(), bytes.end()), std::nullopt};
}

TEST(WpsModel, TextsFromRealElements) {
    const struct {
        const char* name;
        Bytes elements;
        const wchar_t* model;
    } cases[] = {
        {"number inside the name", test::router_wps_element("TP-LINK", "Archer C6", "C6"),
         L"TP-LINK Archer C6"},
        {"name, number and maker", test::router_wps_element("MERCUSYS", "Halo", "H50G"),
         L"MERCUSYS Halo H50G"},
        {"maker inside the name", test::router_wps_element("TP-Link", "TP-Link Deco", "X20"),
         L"TP-Link Deco X20"},
        {"number alone, with the maker", test::router_wps_element("TP-LINK", "", "AX55"),
         L"TP-LINK AX55"},
        {"number alone, maker inside it", test::router_wps_element("D-Link", "", "D-Link DIR-842"),
         L"D-Link DIR-842"},
        {"maker alone gives nothing", test::router_wps_element("D-Link", "", ""), L""},
        {"among the other elements of a beacon",
         test::join({test::element(0, {'D', 'o', 'm'}), test::ht_operation(6, 0),
                     test::router_wps_element("TP-LINK", "Archer C6", "2.0"),
                     test::element(221, {0x00, 0x10, 0x18, 0x02, 0x00})}),
         L"TP-LINK Archer C6 2.0"},
        {"no WPS element", test::join({test::ht_operation(6, 0)}), L""},
        {"another vendor's header",
         test::wps_element({test::wps_text(test::wps_model_name, "Archer C6")},
                           {0x00, 0x50, 0xF2, 0x01}),
         L""},
        {"element id other than 221",
         [] {
             Bytes element = test::router_wps_element("TP-LINK", "Archer C6", "C6");
             element[0] = 222;
             return element;
         }(),
         L""},
        {"bytes from 0x80 as UTF-8, an invalid one replaced",
         test::router_wps_element("Producent \xC5\x81\xC3\xB3\x64\xC5\xBA", "Model \xFF", ""),
         L"Producent Łódź Model \uFFFD"},
        {"bidirectional override shown as a blank",
         test::router_wps_element("",
                                  "Archer\xE2\x80\xAE"
                                  "C6",
                                  ""),
         L"Archer C6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(device_model_text(wps_device_info(c.elements)), c.model);
    }
}

TEST(WpsModel, AttributeRules) {
    using test::wps_model_name;
    using test::wps_text;
    const std::string sixty_four(64, 'M');
    const struct {
        const char* name;
        Bytes elements;
        WpsDeviceInfo info;
    } cases[] = {
        {"length 0 ignored, the earlier value stays",
         test::wps_element(
             {wps_text(wps_model_name, "Archer C6"), raw_attribute(wps_model_name, "")}),
         {"", "Archer C6", ""}},
        {"64 bytes used",
         test::wps_element({wps_text(wps_model_name, sixty_four)}),
         {"", sixty_four, ""}},
        {"65 bytes ignored",
         test::wps_element(
             {wps_text(wps_model_name, "Archer C6"), wps_text(wps_model_name, sixty_four + "X")}),
         {"", "Archer C6", ""}},
        {"trailing blanks and zero bytes cut",
         test::wps_element({raw_attribute(wps_model_name, std::string("Archer C6  \0 \0", 15))}),
         {"", "Archer C6", ""}},
        {"a tab inside: ignored, the earlier value stays",
         test::wps_element(
             {wps_text(wps_model_name, "Archer C6"), wps_text(wps_model_name, "Archer\tC7")}),
         {"", "Archer C6", ""}},
        {"DEL inside ignored",
         test::wps_element({wps_text(wps_model_name,
                                     "Archer\x7F"
                                     "C7")}),
         {"", "", ""}},
        {"a zero byte inside ignored",
         test::wps_element({raw_attribute(wps_model_name, std::string("Arc\0her", 7))}),
         {"", "", ""}},
        {"a later value wins",
         test::wps_element(
             {wps_text(wps_model_name, "Archer C6"), wps_text(wps_model_name, "Archer C7")}),
         {"", "Archer C7", ""}},
        {"blanks alone empty the field",
         test::wps_element(
             {wps_text(wps_model_name, "Archer C6"), wps_text(wps_model_name, "   ")}),
         {"", "", ""}},
        {"bytes from 0x80 kept as they are",
         test::wps_element({wps_text(test::wps_manufacturer, "\x80\xFE\xFF")}),
         {"\x80\xFE\xFF", "", ""}},
        {"an attribute past the end stops the walk",
         test::wps_element({wps_text(test::wps_manufacturer, "TP-LINK"),
                            {wps_model_name, {'A', 'r', 'c'}, std::uint16_t{40}}}),
         {"TP-LINK", "", ""}},
        {"an element past the end is not read, the earlier one stands",
         test::join(
             {test::wps_element({wps_text(test::wps_manufacturer, "TP-LINK")}),
              test::element_claiming(
                  221, 60, {0x00, 0x50, 0xF2, 0x04, 0x10, 0x23, 0x00, 0x03, 'C', '6', 'X'})}),
         {"TP-LINK", "", ""}},
        {"a truncated last element ends the walk",
         test::truncated(test::router_wps_element("TP-LINK", "Archer C6", "C6"), 1),
         {"", "", ""}},
        {"other attribute types skipped",
         test::wps_element({wps_text(test::wps_device_name, "Wireless Router"),
                            wps_text(test::wps_serial_number, "123"),
                            wps_text(test::wps_model_number, "C6")}),
         {"", "", "C6"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const WpsDeviceInfo info = wps_device_info(c.elements);
        EXPECT_EQ(info.manufacturer, c.info.manufacturer);
        EXPECT_EQ(info.model_name, c.info.model_name);
        EXPECT_EQ(info.model_number, c.info.model_number);
    }
}

const std::wstring steps =
    L"\r\n\r\n1. W zakładce Wi-Fi kliknij „Zarządzaj routerem” i zaloguj się w przeglądarce.\r\n"
    L"2. Wybierz instrukcję dla swojej marki, a w panelu pasmo, którego kanał chcesz "
    L"zmienić.\r\n\r\n";
const std::wstring dlink_block =
    L"D-Link\r\n• Nowszy panel: Settings (Ustawienia) → Wireless (Wi-Fi) → Advanced Settings "
    L"(Ustawienia zaawansowane) pod wybranym pasmem, np. 5 GHz. Z listy Wi-Fi Channel wybierz "
    L"kanał i kliknij Save. Jeśli pola nie widać, sprawdź, czy włączony jest Smart Connect.\r\n• "
    L"Starszy panel: Setup → Wireless Settings → Manual Wireless Connection Setup. W sekcji "
    L"wybranego pasma wyłącz Enable Auto Channel Scan, wybierz Wireless Channel i kliknij Save "
    L"Settings.";
const std::wstring archer_block =
    L"TP-Link Archer i klasyczne routery TP-Link\r\nW panelu wybierz Zaawansowane → Sieć "
    L"bezprzewodowa → Ustawienia sieci bezprzewodowej. Wybierz pasmo, ustaw Kanał i zapisz.";
const std::wstring deco_block =
    L"TP-Link Deco\r\nW aplikacji Deco wybierz Więcej → Ustawienia Wi-Fi → 2,4 GHz i 5 GHz → "
    L"Zaawansowane. Jeśli model udostępnia wybór, ustaw kanał dla wybranego pasma. W pozostałych "
    L"modelach użyj Więcej → Optymalizacja sieci.";
const std::wstring mercusys_block =
    L"MERCUSYS\r\nW panelu wybierz Zaawansowane → Sieć bezprzewodowa → Ustawienia Wi-Fi. Wybierz "
    L"pasmo, ustaw Kanał i zapisz.";
const std::wstring halo_block =
    L"MERCUSYS Halo\r\nW aplikacji MERCUSYS wybierz Więcej → Optymalizacja sieci i uruchom "
    L"optymalizację, jeśli jest dostępna w tym modelu.";
const std::wstring closing =
    L"\r\n\r\nNazwy menu zależą od oprogramowania. Jeśli panel wymaga HTTPS, wpisz w przeglądarce "
    L"https:// i ten sam adres. Zaloguj się własnymi danymi administratora. Po zapisaniu ustawień "
    L"połącz się ponownie i powtórz skan. Zmiana kanału może chwilowo rozłączyć urządzenia.";
const std::wstring unknown_heading =
    L"Model urządzenia jest nieznany. Sprawdź naklejkę na routerze lub nazwę w aplikacji "
    L"producenta.";
const std::wstring all_blocks = dlink_block + L"\r\n\r\n" + archer_block + L"\r\n\r\n" +
                                deco_block + L"\r\n\r\n" + mercusys_block + L"\r\n\r\n" +
                                halo_block + L"\r\n\r\n";

TEST(RouterInstructions, ExactTexts) {
    ASSERT_EQ(closing.size(), 265u);
    const std::wstring advice = L"Kanał 1 w paśmie 2,4 GHz wygląda korzystniej.";
    const struct {
        const wchar_t* model;
        std::wstring advice;
        std::wstring text;
    } cases[] = {
        {L"", L"", unknown_heading + steps + all_blocks + closing},
        {L"", advice, unknown_heading + L"\r\n\r\n" + advice + steps + all_blocks + closing},
        {L"TP-LINK Archer C6", L"",
         L"Rozpoznane urządzenie · TP-LINK Archer C6" + steps + archer_block + closing},
        {L"D-Link DIR-842", advice,
         L"Rozpoznane urządzenie · D-Link DIR-842\r\n\r\n" + advice + steps + dlink_block +
             closing},
        {L"Zyxel VMG8825", L"",
         L"Rozpoznane urządzenie · Zyxel VMG8825" + steps + all_blocks + closing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model);
        EXPECT_EQ(router_channel_instructions(c.model, c.advice), c.text);
    }
}

TEST(RouterInstructions, BrandKeywordsInOrder) {
    const struct {
        const wchar_t* model;
        const std::wstring* block;
    } cases[] = {
        {L"TP-Link Deco X20", &deco_block},    // "deco" before "tp-link"
        {L"MERCUSYS Halo H50G", &halo_block},  // "halo" before "mercusys"
        {L"MERCUSYS MR70X", &mercusys_block},
        {L"TP-LINK Archer C6", &archer_block},
        {L"TPLINK TL-WR841N", &archer_block},
        {L"ARCHER AX55", &archer_block},  // lower-cased before the test
        {L"D-LINK COVR", &dlink_block},
        {L"DLink 615", &dlink_block},
        {L"dir-842", &dlink_block},
        {L"Ñ DECO M4", &deco_block},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model);
        EXPECT_EQ(router_channel_instructions(c.model, L""),
                  L"Rozpoznane urządzenie · " + std::wstring(c.model) + steps + *c.block + closing);
    }
}

// A device of the archer fixture with one element changed.
FakeUpnpDevice archer_with(std::string_view element, std::string_view text) {
    return test::upnp_device_from_description(
        test::with_upnp_element(test::upnp_description_fixture("igd-archer"), element, text));
}

class UpnpGatewayTest : public ::testing::Test {
  protected:
    void TearDown() override {
        upnp.expect_released();
        // COM is left as it was found: not initialised on this thread.
        const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(again, S_OK);
        if (SUCCEEDED(again)) CoUninitialize();
    }

    test::FakeUpnp upnp;
};

TEST_F(UpnpGatewayTest, DescriptionFixturesParse) {
    const FakeUpnpDevice archer =
        test::upnp_device_from_description(test::upnp_description_fixture("igd-archer"));
    EXPECT_EQ(archer.presentation_url, L"http://192.168.1.1:80");
    EXPECT_EQ(archer.model_name, L"Archer C6");
    EXPECT_EQ(archer.manufacturer, L"TP-Link");
    // The root device's presentation address follows its embedded devices.
    const FakeUpnpDevice dlink =
        test::upnp_device_from_description(test::upnp_description_fixture("igd-dlink"));
    EXPECT_EQ(dlink.presentation_url, L"http://192.168.0.1/");
    EXPECT_EQ(dlink.model_name, L"D-Link DIR-842");
}

TEST_F(UpnpGatewayTest, MatchingDevices) {
    const FakeUpnpDevice archer =
        test::upnp_device_from_description(test::upnp_description_fixture("igd-archer"));
    const FakeUpnpDevice dlink =
        test::upnp_device_from_description(test::upnp_description_fixture("igd-dlink"));
    FakeUpnpDevice as_unknown = archer;
    as_unknown.handed_as = VT_UNKNOWN;
    FakeUpnpDevice as_text = archer;
    as_text.handed_as = VT_BSTR;
    FakeUpnpDevice empty_item = archer;
    empty_item.handed_as = VT_EMPTY;
    FakeUpnpDevice not_a_device = archer;
    not_a_device.answers_device = false;
    FakeUpnpDevice failing = archer;
    failing.property_result = E_FAIL;
    FakeUpnpDevice null_strings = archer;
    null_strings.null_strings = true;
    // 130 units with a character outside the BMP at units 120-121: the cut keeps 119 and an
    // ellipsis.
    const std::string long_model = std::string(119, 'A') + "&#x1F4F6;" + std::string(9, 'B');

    const struct {
        const char* name;
        std::vector<FakeUpnpDevice> devices;
        const wchar_t* host;
        std::wstring model;
        std::size_t examined;
    } cases[] = {
        {"port without path", {archer}, L"192.168.1.1", L"TP-Link Archer C6", 1},
        {"maker already in the model", {dlink}, L"192.168.0.1", L"D-Link DIR-842", 1},
        {"the gateway among others", {dlink, archer}, L"192.168.1.1", L"TP-Link Archer C6", 2},
        {"port and path",
         {archer_with("presentationURL", "http://192.168.1.1:8080/webpages/login.html")},
         L"192.168.1.1",
         L"TP-Link Archer C6",
         1},
        // Wine's WinHttpCrackUrl leaves the query in the host name; Windows splits it off.
        {"a query right after the host",
         {archer_with("presentationURL", "http://192.168.1.1?page=status")},
         L"192.168.1.1",
         L"TP-Link Archer C6",
         1},
        {"https",
         {archer_with("presentationURL", "https://192.168.1.1/")},
         L"192.168.1.1",
         L"TP-Link Archer C6",
         1},
        {"a name instead of the address",
         {archer_with("presentationURL", "http://tplinkwifi.net/")},
         L"192.168.1.1",
         L"",
         1},
        {"the address spelt otherwise",
         {archer_with("presentationURL", "http://192.168.001.001/")},
         L"192.168.1.1",
         L"",
         1},
        {"ftp", {archer_with("presentationURL", "ftp://192.168.1.1/")}, L"192.168.1.1", L"", 1},
        {"no scheme", {archer_with("presentationURL", "192.168.1.1")}, L"192.168.1.1", L"", 1},
        {"no presentation address", {archer_with("presentationURL", "")}, L"192.168.1.1", L"", 1},
        {"empty model: the search goes on",
         {archer_with("modelName", ""), archer_with("modelName", "Archer AX55")},
         L"192.168.1.1",
         L"TP-Link Archer AX55",
         2},
        {"control and bidirectional characters",
         {archer_with("modelName", "Archer&#9;C6&#x202E;&#x2066;")},
         L"192.168.1.1",
         L"TP-Link Archer C6  ",
         1},
        {"130 units cut before a surrogate pair",
         {archer_with("modelName", long_model)},
         L"192.168.1.1",
         L"TP-Link " + std::wstring(119, L'A') + L"\u2026",
         1},
        {"model of blanks and controls only",
         {archer_with("modelName", "&#9; &#10;")},
         L"192.168.1.1",
         L"",
         1},
        {"maker of blanks", {archer_with("manufacturer", "  ")}, L"192.168.1.1", L"Archer C6", 1},
        {"handed as IUnknown", {as_unknown}, L"192.168.1.1", L"TP-Link Archer C6", 1},
        {"items without a device skipped",
         {as_text, empty_item, not_a_device, archer},
         L"192.168.1.1",
         L"TP-Link Archer C6",
         1},
        {"failing and null properties skipped", {failing, null_strings}, L"192.168.1.1", L"", 2},
        {"no devices", {}, L"192.168.1.1", L"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        upnp.devices = c.devices;
        upnp.devices_examined.clear();
        upnp.find_calls = 0;
        EXPECT_EQ(discover_upnp_gateway(c.host, &test::FakeUpnp::factory), c.model);
        EXPECT_EQ(upnp.devices_examined.size(), c.examined);
        EXPECT_EQ(upnp.find_calls, 1);
        EXPECT_EQ(upnp.searched_type, L"urn:schemas-upnp-org:device:InternetGatewayDevice:1");
        EXPECT_EQ(upnp.searched_flags, 0u);
        EXPECT_TRUE(upnp.com_initialised_at_create);
    }
}

TEST_F(UpnpGatewayTest, AtMost32Devices) {
    const FakeUpnpDevice other = archer_with("presentationURL", "http://192.168.1.2/");
    const FakeUpnpDevice gateway = archer_with("presentationURL", "http://192.168.1.1/");
    for (const std::size_t before : {31u, 32u}) {
        SCOPED_TRACE(before);
        upnp.devices.assign(before, other);
        upnp.devices.push_back(gateway);
        upnp.next_calls = 0;
        upnp.devices_examined.clear();
        EXPECT_EQ(discover_upnp_gateway(L"192.168.1.1", &test::FakeUpnp::factory),
                  before == 31 ? L"TP-Link Archer C6" : L"");
        EXPECT_EQ(upnp.next_calls, 32);
        EXPECT_EQ(upnp.devices_examined.size(), 32u);
    }
}

TEST_F(UpnpGatewayTest, SearchFailures) {
    const FakeUpnpDevice archer =
        test::upnp_device_from_description(test::upnp_description_fixture("igd-archer"));
    const struct {
        const char* name;
        HRESULT create, find;
        bool collection;
        HRESULT enumerate;
        bool variant_enumerator;
    } cases[] = {
        {"no finder", REGDB_E_CLASSNOTREG, S_OK, true, S_OK, true},
        {"search failed", S_OK, E_FAIL, true, S_OK, true},
        {"no collection", S_OK, S_OK, false, S_OK, true},
        {"no enumerator", S_OK, S_OK, true, E_OUTOFMEMORY, true},
        {"enumerator without IEnumVARIANT", S_OK, S_OK, true, S_OK, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        upnp.devices = {archer};
        upnp.create_result = c.create;
        upnp.find_result = c.find;
        upnp.find_gives_collection = c.collection;
        upnp.enum_result = c.enumerate;
        upnp.enumerator_answers_variant = c.variant_enumerator;
        upnp.devices_examined.clear();
        EXPECT_EQ(discover_upnp_gateway(L"192.168.1.1", &test::FakeUpnp::factory), L"");
        EXPECT_TRUE(upnp.devices_examined.empty());
    }
}

TEST_F(UpnpGatewayTest, NoHostNoSearch) {
    upnp.devices = {archer_with("presentationURL", "http:///")};
    EXPECT_EQ(discover_upnp_gateway(L"", &test::FakeUpnp::factory), L"");
    EXPECT_EQ(upnp.finders_created, 0);
}

TEST_F(UpnpGatewayTest, ThreadInAnotherApartment) {
    // A thread already single-threaded cannot become multithreaded: no search, and its own COM
    // initialisation stays as it was.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    upnp.devices = {archer_with("presentationURL", "http://192.168.1.1/")};
    EXPECT_EQ(discover_upnp_gateway(L"192.168.1.1", &test::FakeUpnp::factory), L"");
    EXPECT_EQ(upnp.finders_created, 0);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    CoUninitialize();
    CoUninitialize();
}

TEST_F(UpnpGatewayTest, ThreadAlreadyMultithreaded) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    upnp.devices = {archer_with("presentationURL", "http://192.168.1.1/")};
    EXPECT_EQ(discover_upnp_gateway(L"192.168.1.1", &test::FakeUpnp::factory),
              L"TP-Link Archer C6");
    // Still initialised once: the search balanced its own initialisation.
    CoUninitialize();
}

TEST(UpnpGatewayUnderWine, NoFinderNoModel) {
    // Wine has no upnp.dll: the real finder cannot be made, and COM is left uninitialised.
    EXPECT_EQ(discover_upnp_gateway(L"192.168.1.1", &create_upnp_device_finder), L"");
    EXPECT_EQ(discover_upnp_gateway(L"192.168.1.1"), L"");
    const HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(again, S_OK);
    IUPnPDeviceFinder* finder = nullptr;
    EXPECT_TRUE(FAILED(create_upnp_device_finder(&finder)));
    EXPECT_EQ(finder, nullptr);
    if (SUCCEEDED(again)) CoUninitialize();
}

}  // namespace
}  // namespace tarvisko
