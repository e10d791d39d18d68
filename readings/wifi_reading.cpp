#include "readings/wifi_reading.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <utility>

#include "engine/common/display_text.h"
#include "engine/common/hash.h"
#include "engine/common/ids.h"
#include "engine/common/system.h"
#include "engine/common/text.h"
#include "engine/common/version.h"
#include "readings/lan_devices.h"
#include "readings/router_identity.h"
#include "readings/wifi_channels.h"
#include "readings/wifi_texts.h"
#include "results/format.h"

namespace tarvisko {
namespace {

constexpr std::size_t list_header_size = offsetof(WLAN_BSS_LIST, wlanBssEntries);
constexpr std::size_t entry_size = sizeof(WLAN_BSS_ENTRY);
constexpr std::size_t entry_limit = 1024;
constexpr std::size_t column_count = 8;
static_assert(list_header_size == 8 && entry_size == 360, "WLAN_BSS_LIST layout");
static_assert(sizeof(WLAN_CONNECTION_ATTRIBUTES) == 604, "connection attributes record layout");
static_assert(static_cast<DWORD>(wlan_intf_opcode_rssi) == 0x10000102, "RSSI opcode");

using WlanReply = std::unique_ptr<void, wlan_memory_deleter>;

// Closes whatever the handle variable holds when the reading ends: the scan may already have
// closed it and set it to null.
class WlanHandleGuard {
  public:
    WlanHandleGuard(const WlanApi& api, HANDLE& handle) : api_(api), handle_(handle) {}
    WlanHandleGuard(const WlanHandleGuard&) = delete;
    WlanHandleGuard& operator=(const WlanHandleGuard&) = delete;
    ~WlanHandleGuard() {
        if (handle_ != nullptr) api_.close_handle(handle_, nullptr);
        handle_ = nullptr;
    }

  private:
    const WlanApi& api_;
    HANDLE& handle_;
};

std::vector<TableColumn> wifi_columns() {
    return {{L"Rodzaj", 106}, {L"Sieć lub parametr", 176}, {L"Pasmo", 75},  {L"Kanał", 54},
            {L"MHz", 63},     {L"Szerokość", 82},          {L"Sygnał", 74}, {L"Ocena", 137}};
}

std::wstring band_name(std::int32_t band) {
    return band == 1 ? L"2,4 GHz" : band == 2 ? L"5 GHz" : L"6 GHz";
}

plot_point point_on(const wifi_channel& channel, std::int32_t rssi_dbm, bool own) {
    return {channel.band,
            channel.channel,
            channel.primary_mhz,
            channel.center_mhz,
            channel.width_mhz,
            channel.second_center_mhz,
            rssi_dbm,
            own};
}

wifi_channel channel_of(const plot_point& point) {
    return {point.band,       point.channel,   point.primary_mhz,
            point.center_mhz, point.width_mhz, point.second_center_mhz};
}

bool plausible_rssi(std::int32_t rssi_dbm) { return rssi_dbm >= -127 && rssi_dbm <= 0; }

std::wstring dbm_text(std::int32_t rssi_dbm) { return std::to_wstring(rssi_dbm) + L" dBm"; }

std::wstring interface_description(const WLAN_INTERFACE_INFO& info) {
    const std::size_t units =
        wcsnlen(info.strInterfaceDescription, std::size(info.strInterfaceDescription));
    return sanitize_display_text(std::wstring_view(info.strInterfaceDescription, units));
}

// What the walk over the adapter's network list found.
struct ListWalk {
    std::optional<wifi_channel> own;  // the channel of the connected access point
    std::wstring access_point_model;  // from the WPS data of that access point
    std::vector<plot_point> points;   // detailed only: the visible networks
    std::vector<VisibleNetwork> networks;
};

// Walks at most 1024 entries of a WLAN_BSS_LIST of `total_size` bytes (at least its header),
// passing over repeated (BSSID, frequency) pairs and element spans that do not lie inside the list.
ListWalk walk_network_list(const std::uint8_t* list, std::size_t total_size,
                           const WLAN_CONNECTION_ATTRIBUTES* connection, bool detailed) {
    ListWalk walk;
    DWORD declared = 0;
    std::memcpy(&declared, list + offsetof(WLAN_BSS_LIST, dwNumberOfItems), sizeof declared);
    const std::size_t count = std::min<std::size_t>(
        {declared, (total_size - list_header_size) / entry_size, entry_limit});

    std::set<std::pair<std::array<std::uint8_t, 6>, ULONG>> seen;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t entry_at = list_header_size + i * entry_size;
        WLAN_BSS_ENTRY entry;
        std::memcpy(&entry, list + entry_at, entry_size);
        std::array<std::uint8_t, 6> bssid;
        std::memcpy(bssid.data(), entry.dot11Bssid, bssid.size());
        if (!seen.insert({bssid, entry.ulChCenterFrequency}).second) continue;

        // In 64 bits: a 32-bit sum of a hostile offset and size can wrap below the total.
        std::span<const std::uint8_t> elements;
        const std::uint64_t elements_end =
            std::uint64_t{entry_at} + entry.ulIeOffset + entry.ulIeSize;
        if (entry.ulIeOffset >= entry_size && elements_end <= total_size) {
            elements = std::span(list + entry_at + entry.ulIeOffset, entry.ulIeSize);
        }
        const wifi_channel channel =
            mhz_to_channel(static_cast<std::int32_t>(entry.ulChCenterFrequency / 1000), elements);

        const bool own =
            connection != nullptr &&
            std::memcmp(entry.dot11Bssid, connection->wlanAssociationAttributes.dot11Bssid,
                        bssid.size()) == 0;
        if (own) {
            walk.own = channel;
            walk.access_point_model = device_model_text(wps_device_info(elements));
        }
        if (detailed && (own || entry.lRssi >= wifi_visible_dbm)) {
            const plot_point point = point_on(channel, entry.lRssi, own);
            walk.points.push_back(point);
            walk.networks.push_back({ssid_display_text(entry.dot11Ssid), mac_text(bssid), point});
        }
    }
    return walk;
}

// The comparable summary of a detailed scan, or nothing when the access point's address cannot
// name the connection.
std::optional<WifiSnapshot> make_snapshot(const std::string& observed_at,
                                          const GUID& interface_guid,
                                          const WLAN_CONNECTION_ATTRIBUTES& connection,
                                          const wifi_channel& own,
                                          const channel_assessment& assessment,
                                          std::optional<std::int32_t> rssi,
                                          std::span<const plot_point> points) {
    std::array<std::uint8_t, sizeof(GUID)> key;
    std::memcpy(key.data(), &interface_guid, key.size());
    const std::span<const std::uint8_t> bssid(connection.wlanAssociationAttributes.dot11Bssid, 6);
    std::string connection_id = hmac_sha256(bssid, key);
    if (connection_id.empty()) return std::nullopt;

    WifiSnapshot snapshot;
    snapshot.observed_at = observed_at;
    snapshot.connection_id = std::move(connection_id);
    snapshot.channel = own;
    snapshot.overlap = assessment.own;
    if (rssi && plausible_rssi(*rssi)) snapshot.rssi_dbm = rssi;
    std::vector<plot_point> plot;
    for (const plot_point& point : points) {
        if (point.band != own.band) continue;
        if (!point.own) {
            if (plausible_rssi(point.rssi_dbm)) plot.push_back(point);
        } else if (!snapshot.rssi_dbm && point.primary_mhz == own.primary_mhz &&
                   plausible_rssi(point.rssi_dbm)) {
            snapshot.rssi_dbm = point.rssi_dbm;
        }
    }
    if (snapshot.rssi_dbm) plot.push_back(point_on(own, *snapshot.rssi_dbm, true));
    snapshot.client_version = program_version;
    snapshot.os_version = windows_version_text();
    snapshot.plot = std::move(plot);
    return snapshot;
}

// The channel advice of an assessment, with the 2.4 GHz hints.
std::wstring channel_advice(const wifi_channel& own, const channel_assessment& assessment,
                            const WLAN_CONNECTION_ATTRIBUTES* connection,
                            std::span<const VisibleNetwork> networks) {
    std::wstring advice;
    if (assessment.proposal) {
        advice = L"Kanał " + std::to_wstring(*assessment.proposal) + L" w paśmie " +
                 band_text(own.band) +
                 L" wygląda korzystniej w porównaniu przy 20 MHz. Sprawdź, czy router udostępnia "
                 L"ten kanał.";
    } else if (own.band == 3) {
        advice =
            L"W paśmie 6 GHz wybierz kanał dostępny w routerze albo skorzystaj z wyboru "
            L"automatycznego.";
    } else {
        advice = L"Skan nie wskazał wyraźnie lepszego kanału spośród porównanych przy 20 MHz.";
    }
    if (own.band == 1 && assessment.own.overlapping > 0) {
        if (own.width_mhz > 20) {
            advice += L" Przy zajętym paśmie 2,4 GHz warto też wypróbować szerokość 20 MHz.";
        }
        if (connection != nullptr &&
            strong_twin_on_5ghz(
                networks, ssid_display_text(connection->wlanAssociationAttributes.dot11Ssid))) {
            advice +=
                L" Widać silną sieć 5 GHz o tej samej nazwie. Jeśli to Twoja sieć, porównaj "
                L"wynik w paśmie 5 GHz.";
        }
    }
    return advice;
}

// The comparison rows of one band: its candidate channels and every channel a network uses.
void add_channel_rows(WifiReading& reading, std::int32_t band,
                      const std::optional<wifi_channel>& own, std::span<const plot_point> points,
                      bool unconfirmed) {
    std::vector<std::int32_t> channels = candidate_channels(band);
    bool has_data = own && own->band == band;
    for (const plot_point& point : points) {
        if (point.band != band) continue;
        channels.push_back(point.channel);
        has_data = true;
    }
    std::sort(channels.begin(), channels.end());
    channels.erase(std::unique(channels.begin(), channels.end()), channels.end());

    for (const std::int32_t c : channels) {
        const std::int32_t f = channel_to_mhz(band, c);
        const overlap_stats stats = overlap_score({band, c, f, f, 20, 0}, points);
        const bool same_band = own && own->band == band;
        const bool current = same_band && own->channel == c;
        const bool proposed =
            same_band && reading.chart.has_proposal && reading.chart.proposed_channel == c;
        std::wstring label;
        Verdict verdict = 0;
        if (stats.overlapping > 0) {
            const bool heavy = is_heavy_overlap(stats);
            label = heavy ? L"Dużo nakładania" : L"Widać sąsiadów";
            verdict = heavy ? 3 : 2;
        } else if (current || proposed) {
            label = L"Nie widać innych";
            verdict = 1;
        } else {
            continue;
        }
        if (!has_data || unconfirmed) {
            label = L"Niepotwierdzone";
            verdict = 0;
        }
        if (proposed) {
            label = L"Proponowany";
            verdict = 1;
        }
        add_wifi_row(
            reading,
            {L"Kanał", std::to_wstring(stats.overlapping) + L" nakładających", band_name(band),
             std::to_wstring(c), std::to_wstring(f), L"20 MHz", L"", label},
            L"Porównanie dla hipotetycznego kanału 20 MHz. " + overlap_sentence(stats) +
                L" Dostępność kanału zależy od ustawień kraju i sprzętu.",
            verdict);
    }
}

// The rows of a reading without a Wi-Fi interface.
void add_no_interface(WifiReading& reading, DWORD error) {
    const std::wstring state = error != 0 ? L"Wi-Fi niedostępne" : L"Brak karty Wi-Fi";
    const std::wstring text =
        error != 0 ? L"Windows nie otworzył karty Wi-Fi (kod " + std::to_wstring(error) + L")."
                   : L"Windows nie wykrył obsługiwanej karty Wi-Fi.";
    add_wifi_row(reading, {L"Stan", state}, text, 0);
    reading.card = {L"Brak oceny kanału", state, text, 0};
}

}  // namespace

const TextCard& wifi_default_card() {
    static const TextCard card{
        L"Sprawdź swój kanał Wi-Fi", L"Uruchom szczegółowy skan, aby ocenić obecny kanał.",
        L"Aplikacja porównuje sieci widoczne obok aktualnego połączenia. Po świeżym skanie "
        L"pokaże, czy warto sprawdzić inny kanał.",
        0};
    return card;
}

void add_wifi_row(WifiReading& reading, std::vector<std::wstring> cells, std::wstring detail,
                  Verdict verdict) {
    cells.resize(column_count);
    TableRow row;
    row.cells = std::move(cells);
    row.detail = std::move(detail);
    if (verdict != 0) {
        row.status.assign(column_count, 0);
        row.status.back() = verdict;
    }
    reading.table.rows.push_back(std::move(row));
}

WifiReading read_wifi_environment(bool detailed, const WifiCalls& calls) {
    const WlanApi& api = *calls.wlan;
    WifiReading reading;
    reading.table.columns = wifi_columns();
    reading.table.kind = 1;
    reading.table.title = detailed ? L"Szczegółowy skan Wi-Fi"
                                   : L"Bieżące Wi-Fi · kliknij Badaj szczegółowo Wi-Fi, aby "
                                     L"sprawdzić otoczenie.";
    reading.router_instructions = router_channel_instructions(L"", L"");

    HANDLE handle = nullptr;
    DWORD open_error = 0;
    const std::optional<WLAN_INTERFACE_INFO> chosen = open_wifi_interface(api, handle, open_error);
    const WlanHandleGuard handle_guard(api, handle);
    if (!chosen) {
        add_no_interface(reading, open_error);
        return reading;
    }
    const GUID& guid = chosen->InterfaceGuid;
    const bool connected = chosen->isState == wlan_interface_state_connected;

    const WifiGateways gateways = calls.gateways(*chosen);
    reading.panel_address = router_panel_address(gateways);
    const std::wstring warning = detailed ? run_wifi_scan(api, handle, guid) : std::wstring();

    add_wifi_row(reading, {L"Karta", interface_description(*chosen)},
                 connected ? L"Karta użyta do odczytu połączenia i skanu. Przy kilku aktywnych "
                             L"kartach Windows wybrał pierwszą połączoną kartę."
                           : L"Karta nie jest połączona. Można sprawdzić otoczenie oraz "
                             L"dostępność sieci.",
                 0);
    if (!gateways.ipv4.empty()) {
        add_wifi_row(reading, {L"Brama IPv4", gateways.ipv4},
                     L"Adres domyślnej bramy przypisanej do tej karty Wi-Fi. W trybie punktu "
                     L"dostępu brama i nadajnik Wi-Fi mogą być różnymi urządzeniami.",
                     0);
    }
    if (!gateways.ipv6.empty()) {
        add_wifi_row(reading, {L"Brama IPv6", gateways.ipv6},
                     L"Adres domyślnej bramy IPv6 tej karty. Adres lokalny dla łącza wymaga "
                     L"identyfikatora interfejsu.",
                     0);
    }
    if (reading.panel_address.empty()) {
        add_wifi_row(reading, {L"Panel routera", L"Nieustalony adres"},
                     L"Do otwarcia panelu potrzeba adresu IPv4 lub IPv6 obsługiwanego przez "
                     L"przeglądarkę. Brama IPv6 link-local jest pokazana w tabeli.",
                     0);
    }

    std::optional<WLAN_CONNECTION_ATTRIBUTES> connection;
    {
        DWORD size = 0;
        void* data = nullptr;
        WLAN_OPCODE_VALUE_TYPE value_type{};
        const DWORD result = api.query_interface(handle, &guid, wlan_intf_opcode_current_connection,
                                                 nullptr, &size, &data, &value_type);
        const WlanReply reply(data, wlan_memory_deleter{&api});
        if (result == ERROR_SUCCESS && reply != nullptr &&
            size >= sizeof(WLAN_CONNECTION_ATTRIBUTES)) {
            connection.emplace();
            std::memcpy(&*connection, reply.get(), sizeof(WLAN_CONNECTION_ATTRIBUTES));
        }
    }
    const WLAN_CONNECTION_ATTRIBUTES* const connection_record = connection ? &*connection : nullptr;
    const std::optional<std::int32_t> rssi =
        query_interface_int(api, handle, guid, wlan_intf_opcode_rssi);

    WLAN_BSS_LIST* raw_list = nullptr;
    const DWORD list_error = api.get_network_bss_list(handle, &guid, nullptr, dot11_BSS_type_any,
                                                      FALSE, nullptr, &raw_list);
    const std::unique_ptr<WLAN_BSS_LIST, wlan_memory_deleter> list(raw_list,
                                                                   wlan_memory_deleter{&api});
    const std::string observed_at = detailed ? utc_timestamp_now() : std::string();

    ListWalk walk;
    if (list_error == ERROR_SUCCESS && list != nullptr && list->dwTotalSize >= list_header_size) {
        walk = walk_network_list(reinterpret_cast<const std::uint8_t*>(list.get()),
                                 list->dwTotalSize, connection_record, detailed);
    }
    std::optional<wifi_channel>& own = walk.own;

    if (connection) {
        const std::optional<std::int32_t> number =
            query_interface_int(api, handle, guid, wlan_intf_opcode_channel_number);
        // A driver that reports no width may still know its channel better than the beacon.
        if (own && own->width_mhz == 0 && number && *number != own->channel) {
            if (const std::int32_t mhz = channel_to_mhz(own->band, *number); mhz != 0) {
                own->channel = *number;
                own->primary_mhz = mhz;
                own->center_mhz = mhz;
            }
        }
        wifi_channel shown;
        if (own) {
            shown = *own;
        } else {
            shown.channel = number.value_or(0);
        }
        const WLAN_ASSOCIATION_ATTRIBUTES& association = connection->wlanAssociationAttributes;
        const std::wstring signal =
            rssi ? dbm_text(*rssi) : std::to_wstring(association.wlanSignalQuality) + L" %";
        std::wstring detail =
            L"Częstotliwość kanału podstawowego w MHz. Odbiór i nadawanie karty: " +
            format_decimal(association.ulRxRate / 1000.0) + L" / " +
            format_decimal(association.ulTxRate / 1000.0) + L" Mb/s (prędkości negocjowane)." +
            center_note(shown);
        if (shown.width_mhz == 0) {
            detail +=
                L" Sterownik lub nadajnik nie udostępnił obsługiwanego opisu szerokości "
                L"kanału.";
        }
        add_wifi_row(
            reading,
            {L"Połączenie", ssid_display_text(association.dot11Ssid), band_text(shown.band),
             channel_number_text(shown), primary_mhz_text(shown), width_text(shown), signal},
            std::move(detail), 0);
    }

    std::wstring list_error_text;
    if (list_error == ERROR_ACCESS_DENIED) {
        list_error_text =
            L"Włącz dostęp do lokalizacji dla aplikacji klasycznych w ustawieniach "
            L"prywatności Windows, aby odczytać punkty Wi-Fi.";
        add_wifi_row(reading, {L"Dostęp", L"Lokalizacja wymagana"}, list_error_text, 0);
    } else if (list_error != ERROR_SUCCESS) {
        list_error_text =
            L"Windows nie odczytał listy punktów (kod " + std::to_wstring(list_error) + L").";
        add_wifi_row(reading, {L"Dostęp", L"Brak odczytu otoczenia"}, list_error_text, 0);
    }

    const std::wstring gateway_model =
        detailed ? discover_upnp_gateway(gateways.ipv4, calls.upnp_finder) : std::wstring();
    if (!gateway_model.empty()) {
        add_wifi_row(reading, {L"Model bramy", gateway_model},
                     L"Model ogłoszony przez urządzenie UPnP, którego adres panelu zgadza się z "
                     L"adresem bramy Wi-Fi.",
                     0);
    }
    if (!walk.access_point_model.empty()) {
        add_wifi_row(reading, {L"Model nadajnika", walk.access_point_model},
                     L"Model zgłoszony w danych WPS punktu dostępu, do którego jest podłączony "
                     L"komputer.",
                     0);
    }
    if (gateway_model.empty() && walk.access_point_model.empty()) {
        add_wifi_row(reading, {L"Model", L"Nieznany"},
                     L"Brak publicznej informacji o modelu aktualnego punktu dostępu lub bramy. "
                     L"Szczegółowy skan sprawdza też ogłoszenie UPnP bramy.",
                     0);
    }

    const bool own_known = own && own->band != 0 && own->channel != 0;
    std::wstring advice;
    if (detailed) {
        reading.chart.from_cache = !warning.empty();
        bool list_shown = true;
        if (!warning.empty()) {
            add_wifi_row(reading, {L"Skan", L"Odczyt niepełny"}, warning, 2);
            reading.card = {L"Brak świeżej oceny kanału", L"Powtórz szczegółowy skan Wi-Fi.",
                            warning, 0};
            list_shown = list_error == ERROR_SUCCESS;
        } else if (list_error != ERROR_SUCCESS) {
            reading.card = {L"Brak oceny kanału", L"Windows nie udostępnił listy sieci.",
                            list_error_text, 0};
            list_shown = false;
        } else if (!own_known) {
            const std::wstring why = connection
                                         ? L"Windows nie podał dokładnego kanału bieżącej sieci."
                                         : L"Połącz komputer z siecią Wi-Fi i powtórz skan.";
            reading.card = {L"Brak oceny kanału", why, why, 0};
        }

        if (list_shown) {
            reading.table.title =
                std::wstring(warning.empty() ? L"Skan zakończony" : L"Odczyt z pamięci karty") +
                L" · widoczne punkty Wi-Fi: " + std::to_wstring(walk.networks.size()) + L" · " +
                to_wide(observed_at);

            if (own_known && warning.empty()) {
                const channel_assessment assessment = assess_channel(*own, walk.points);
                if (own->width_mhz != 0 && connection) {
                    reading.snapshot = make_snapshot(observed_at, guid, *connection, *own,
                                                     assessment, rssi, walk.points);
                }
                reading.card = channel_assessment_card(*own, assessment);
                const OverlapLevel level = overlap_level(assessment.own);
                std::wstring detail = overlap_sentence(assessment.own);
                if (own->width_mhz == 0) {
                    detail += L" Szerokość własnego kanału oszacowano na 20 MHz.";
                }
                add_wifi_row(reading,
                             {L"Mój kanał", L"Nakładanie sieci", band_text(own->band),
                              channel_number_text(*own), primary_mhz_text(*own), width_text(*own),
                              L"", level.text},
                             std::move(detail), level.level);
                reading.chart.has_proposal = assessment.proposal.has_value();
                reading.chart.proposed_channel = assessment.proposal.value_or(0);
                advice = channel_advice(*own, assessment, connection_record, walk.networks);
                reading.card.body += L"\r\n\r\n" + advice;
            }

            // Stable: networks of equal signal keep the adapter's order, so rows and card
            // stay the same from one reading of the same list to the next.
            std::stable_sort(walk.networks.begin(), walk.networks.end(),
                             [](const VisibleNetwork& a, const VisibleNetwork& b) {
                                 return a.point.rssi_dbm > b.point.rssi_dbm;
                             });
            for (const VisibleNetwork& network : walk.networks) {
                const plot_point& point = network.point;
                const bool overlaps =
                    own && overlap_score(*own, std::span(&point, 1)).overlapping > 0;
                if (point.band != 0) {
                    reading.chart.items.push_back({network.ssid_text, point, overlaps});
                }
                const wifi_channel channel = channel_of(point);
                std::wstring detail = L"Widoczny nadajnik " + network.bssid_text +
                                      L". MHz to częstotliwość kanału podstawowego. Moc sygnału "
                                      L"zarejestrowana przez tę kartę Wi-Fi." +
                                      center_note(channel);
                if (overlaps) {
                    detail +=
                        L" Pasma sygnałów według dostępnych danych częściowo lub w całości "
                        L"się pokrywają.";
                }
                add_wifi_row(reading,
                             {L"Punkt Wi-Fi", network.ssid_text, band_text(point.band),
                              channel_number_text(channel), primary_mhz_text(channel),
                              width_text(channel), dbm_text(point.rssi_dbm),
                              point.own  ? L"Połączono"
                              : overlaps ? L"Nakłada się"
                                         : L"\u2014"},
                             std::move(detail), overlaps && !point.own ? 2 : 0);
            }

            std::size_t overlapping = 0;
            for (const WifiChartItem& item : reading.chart.items) {
                if (!item.overlaps) continue;
                if (overlapping == 0)
                    reading.card.body += L"\r\n\r\nNajsilniejsze nakładające się sieci";
                if (overlapping < 6) {
                    reading.card.body += L"\r\n" + item.label + L" · kanał " +
                                         channel_number_text(channel_of(item.point)) + L" · " +
                                         dbm_text(item.point.rssi_dbm);
                }
                ++overlapping;
            }
            if (overlapping > 6) {
                reading.card.body += L"\r\nPozostałe punkty · " + std::to_wstring(overlapping - 6);
            }

            for (const std::int32_t band : {1, 2, 3}) {
                add_channel_rows(reading, band, own, walk.points, !warning.empty());
            }
        }

        reading.card.body +=
            L"\r\n\r\nOcena dotyczy widocznych sieci Wi-Fi w chwili skanu. Aplikacja pomija "
            L"sygnały słabsze niż \u221285 dBm i nie mierzy zakłóceń spoza Wi-Fi.";
        add_wifi_row(reading, {L"Zakres", L"Co widzi karta"},
                     L"Skan pokazuje nadajniki Wi-Fi widoczne z tego miejsca. Lista pomija sieci "
                     L"słabsze niż \u221285 dBm, z wyjątkiem własnej sieci. Bluetooth, "
                     L"mikrofalówka, poziom szumu i czas zajęcia kanału wymagają innego pomiaru.",
                     0);
    }

    if (own) reading.chart.band = own->band;
    reading.router_instructions = router_channel_instructions(
        !gateway_model.empty() ? gateway_model : walk.access_point_model, advice);
    return reading;
}

std::wstring wifi_summary_line(const WifiChartData& chart, std::int32_t band) {
    int shown = 0;
    int overlapping = 0;
    for (const WifiChartItem& item : chart.items) {
        if (item.point.band != band ||
            (!item.point.own && item.point.rssi_dbm < wifi_visible_dbm)) {
            continue;
        }
        ++shown;
        if (item.overlaps) ++overlapping;
    }
    std::wstring line = band_name(band) + L" · " + std::to_wstring(shown) + L" punktów · " +
                        std::to_wstring(overlapping) + L" nakłada się";
    if (band == chart.band && chart.has_proposal) {
        line += L" · proponowany kanał " + std::to_wstring(chart.proposed_channel);
    }
    if (chart.from_cache) line += L" · odczyt z pamięci";
    return line;
}

}  // namespace tarvisko
