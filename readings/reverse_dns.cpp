#include "readings/reverse_dns.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <list>
#include <stdexcept>
#include <utility>

#include "engine/common/address.h"
#include "engine/common/display_text.h"

namespace tarvisko {

namespace {

constexpr DWORD kResolverOptions =
    DNS_QUERY_NO_NETBT | DNS_QUERY_NO_MULTICAST | DNS_QUERY_TREAT_AS_FQDN;       // 0x1880
constexpr DWORD kCacheOnlyOptions = kResolverOptions | DNS_QUERY_NO_WIRE_QUERY;  // 0x1890
constexpr DNS_STATUS kNotIssued = ERROR_NOT_ENOUGH_MEMORY;  // 8: the query never left
constexpr std::chrono::seconds kResolverDeadline{4};
constexpr std::chrono::milliseconds kWaitStep{50};

const wchar_t kNoteNotLiteral[] = L"Adres bez obsługi reverse DNS.";
const wchar_t kNoteNotInCache[] = L"Brak lokalnej nazwy PTR w pamięci DNS Windows.";
const wchar_t kNoteNoPtrName[] = L"Resolver DNS nie zwrócił nazwy PTR.";
const wchar_t kNoteResolverFailed[] = L"Nie udało się odczytać PTR z resolvera DNS.";

template <typename Function>
Function dnsapi_function(const char* name) {
    const HMODULE module = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::atomic<const DnsCalls*> installed_calls{nullptr};

bool is_link_local_ipv6(const IN6_ADDR& address) {
    return address.u.Byte[0] == 0xFE && (address.u.Byte[1] & 0xC0) == 0x80;
}

// One public address on its way through the resolver. DnsQueryEx writes `result` and reads
// `request`, `cancel` and `query_name` until the completion callback has run, so a query never
// moves once issued (the queries live in a std::list) and is released only after its event.
struct PtrQuery {
    std::string address;
    std::wstring query_name;
    HANDLE event = nullptr;  // manual reset, set by the completion callback
    DnsQueryRequest request{};
    DNS_QUERY_RESULT result{};
    DnsQueryCancel cancel{};
    DNS_STATUS status = kNotIssued;
};

void WINAPI ptr_query_completed(PVOID context, DNS_QUERY_RESULT*) {
    SetEvent(static_cast<HANDLE>(context));
}

void free_dns_records(const DnsCalls& calls, DNS_RECORDW* records) {
    if (records != nullptr) calls.free(records, DnsFreeRecordList);
}

// Owns the queries of one call and releases them together.
class PtrQueries {
  public:
    explicit PtrQueries(const DnsCalls& calls) : calls_(calls) {}
    PtrQueries(const PtrQueries&) = delete;
    PtrQueries& operator=(const PtrQueries&) = delete;
    ~PtrQueries() {
        for (PtrQuery& query : list) {
            free_dns_records(calls_, query.result.pQueryRecords);
            if (query.event != nullptr) CloseHandle(query.event);
        }
    }

    void make(std::string address, std::wstring query_name) {
        PtrQuery& query = list.emplace_back();
        query.address = std::move(address);
        query.query_name = std::move(query_name);
        query.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }

    bool has(const std::string& address) const {
        return std::any_of(list.begin(), list.end(),
                           [&](const PtrQuery& query) { return query.address == address; });
    }

    std::list<PtrQuery> list;

  private:
    const DnsCalls& calls_;
};

bool signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// Waits for every pending query until it is answered, a stop is requested or the deadline has
// passed, in steps of at most 50 ms so that a stop is seen quickly.
void wait_for_answers(std::list<PtrQuery>& queries, std::stop_token stop,
                      std::chrono::steady_clock::time_point deadline, const DnsCalls& calls) {
    for (PtrQuery& query : queries) {
        if (query.status != kDnsRequestPending) continue;
        while (!signalled(query.event)) {
            const auto now = calls.now();
            if (stop.stop_requested() || now >= deadline) return;
            const auto step = std::min<std::chrono::milliseconds>(
                kWaitStep, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
            calls.wait(query.event, static_cast<DWORD>(step.count()));
        }
    }
}

ResponderName resolver_entry(const PtrQuery& query) {
    const DNS_STATUS status =
        query.status == kDnsRequestPending ? query.result.QueryStatus : query.status;
    ResponderName entry;
    if (status == ERROR_SUCCESS) entry.name = first_ptr_name(query.result.pQueryRecords);
    if (!entry.name.empty()) return entry;
    const bool answered = status == ERROR_SUCCESS || status == DNS_ERROR_RCODE_NAME_ERROR ||
                          status == DNS_INFO_NO_RECORDS;
    entry.note = answered ? kNoteNoPtrName : kNoteResolverFailed;
    return entry;
}

}  // namespace

std::chrono::steady_clock::time_point dns_steady_now() { return std::chrono::steady_clock::now(); }

DWORD dns_wait_for_event(HANDLE event, DWORD milliseconds) {
    return WaitForSingleObject(event, milliseconds);
}

const DnsCalls& windows_dns_calls() {
    static const DnsCalls calls = [] {
        DnsCalls system;
        system.query_ex = dnsapi_function<DnsQueryExFunction>("DnsQueryEx");
        system.cancel = dnsapi_function<DnsCancelQueryFunction>("DnsCancelQuery");
        system.query_cache = &DnsQuery_W;
        system.free = &DnsFree;
        return system;
    }();
    return calls;
}

const DnsCalls& active_dns_calls() {
    const DnsCalls* calls = installed_calls.load();
    return calls != nullptr ? *calls : windows_dns_calls();
}

const DnsCalls* install_dns_calls(const DnsCalls* calls) {
    const DnsCalls* previous = installed_calls.exchange(calls);
    return previous != nullptr ? previous : &windows_dns_calls();
}

std::wstring reverse_lookup_name(const SOCKADDR_INET& address) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring name;
    if (address.si_family == AF_INET) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address.Ipv4.sin_addr);
        for (int i = 3; i >= 0; --i) name += std::to_wstring(bytes[i]) + L".";
        return name + L"in-addr.arpa.";
    }
    if (address.si_family == AF_INET6) {
        const IN6_ADDR& ip = address.Ipv6.sin6_addr;
        if (is_link_local_ipv6(ip)) return {};
        for (int i = 15; i >= 0; --i) {
            name += digits[ip.u.Byte[i] & 0x0F];
            name += L'.';
            name += digits[ip.u.Byte[i] >> 4];
            name += L'.';
        }
        return name + L"ip6.arpa.";
    }
    return {};
}

std::wstring first_ptr_name(const DNS_RECORDW* records) {
    for (const DNS_RECORDW* record = records; record != nullptr; record = record->pNext) {
        if (record->wType != DNS_TYPE_PTR || record->Data.PTR.pNameHost == nullptr) continue;
        std::wstring name = record->Data.PTR.pNameHost;
        if (!name.empty() && name.back() == L'.') name.pop_back();
        // A PTR record holds whatever its zone's owner wrote; only a real host name is shown.
        if (!is_host_name(name)) continue;
        return name;
    }
    return {};
}

std::wstring reverse_dns_from_cache(const SOCKADDR_INET& address, const DnsCalls& calls) {
    const std::wstring query_name = reverse_lookup_name(address);
    if (query_name.empty()) return {};
    DNS_RECORDW* records = nullptr;
    const DNS_STATUS status =
        calls.query_cache(query_name.c_str(), DNS_TYPE_PTR, kCacheOnlyOptions, nullptr,
                          reinterpret_cast<DNS_RECORD**>(&records), nullptr);
    std::wstring name;
    if (status == ERROR_SUCCESS) name = first_ptr_name(records);
    free_dns_records(calls, records);
    return name;
}

ResponderNameMap resolve_ptr_names(const std::vector<std::string>& addresses, std::stop_token stop,
                                   const DnsCalls& calls) {
    ResponderNameMap names;
    PtrQueries queries(calls);
    const std::size_t count = std::min(addresses.size(), kResponderLimit);
    for (std::size_t i = 0; i < count && !stop.stop_requested(); ++i) {
        const std::string& text = addresses[i];
        if (names.contains(text) || queries.has(text)) continue;
        Target target;
        try {
            target = parse_ip_literal(text);
        } catch (const std::invalid_argument&) {
            names.emplace(text, ResponderName{{}, kNoteNotLiteral});
            continue;
        }
        if (is_public_address(target)) {
            queries.make(text, reverse_lookup_name(target.address));
            continue;
        }
        std::wstring name = reverse_dns_from_cache(target.address, calls);
        std::wstring note = name.empty() ? kNoteNotInCache : L"";
        names.emplace(text, ResponderName{std::move(name), std::move(note)});
    }

    const auto started = calls.now();
    // Without DnsCancelQuery a query that never completes could not be ended, and waiting for
    // it would hang the job: then no query is issued at all.
    const bool can_query = calls.query_ex != nullptr && calls.cancel != nullptr;
    for (PtrQuery& query : queries.list) {
        if (stop.stop_requested()) break;
        if (!can_query || query.event == nullptr) continue;
        query.request.Version = kDnsQueryRequestVersion1;
        query.request.QueryName = query.query_name.c_str();
        query.request.QueryType = DNS_TYPE_PTR;
        query.request.QueryOptions = kResolverOptions;
        query.request.pQueryCompletionCallback = &ptr_query_completed;
        query.request.pQueryContext = query.event;
        query.result.Version = kDnsQueryResultsVersion1;
        query.status = calls.query_ex(&query.request, &query.result, &query.cancel);
    }

    wait_for_answers(queries.list, stop, started + kResolverDeadline, calls);
    for (PtrQuery& query : queries.list) {
        if (query.status == kDnsRequestPending && !signalled(query.event)) {
            calls.cancel(&query.cancel);
        }
    }
    // A cancelled query still completes through its callback; only then may it be released.
    for (PtrQuery& query : queries.list) {
        if (query.status == kDnsRequestPending) calls.wait(query.event, INFINITE);
    }

    for (const PtrQuery& query : queries.list) names.emplace(query.address, resolver_entry(query));
    return names;
}

}  // namespace tarvisko
