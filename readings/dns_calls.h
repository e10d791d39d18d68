#pragma once
// The DNS API behind one injectable table of functions: the asynchronous query, its
// cancellation, the cache-only query, the release of record lists, and the clock and wait of
// the answers' deadline. Tests hand in a resolver of their own that answers from another thread
// on a clock of its own.
//
// MinGW lacks the DnsQueryEx family, so its request and cancel records are declared here with
// the layout of the Windows SDK, checked against their x64 sizes. DnsQueryEx and DnsCancelQuery
// are looked up at run time: a static import of a function that the system lacks (Wine has no
// DnsCancelQuery) would stop the program from loading at all.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <windns.h>
// clang-format on

#include <chrono>
#include <cstddef>

namespace tarvisko {

// DNS_QUERY_REQUEST, version 1.
struct DnsQueryRequest {
    ULONG Version = 0;
    PCWSTR QueryName = nullptr;
    WORD QueryType = 0;
    ULONG64 QueryOptions = 0;
    void* pDnsServerList = nullptr;  // DNS_ADDR_ARRAY*; never used here
    ULONG InterfaceIndex = 0;
    PDNS_QUERY_COMPLETION_ROUTINE pQueryCompletionCallback = nullptr;
    PVOID pQueryContext = nullptr;
};
static_assert(sizeof(DnsQueryRequest) == 64);
static_assert(offsetof(DnsQueryRequest, QueryName) == 8);
static_assert(offsetof(DnsQueryRequest, QueryType) == 16);
static_assert(offsetof(DnsQueryRequest, QueryOptions) == 24);
static_assert(offsetof(DnsQueryRequest, InterfaceIndex) == 40);
static_assert(offsetof(DnsQueryRequest, pQueryCompletionCallback) == 48);
static_assert(offsetof(DnsQueryRequest, pQueryContext) == 56);

// MinGW does declare DNS_QUERY_RESULT; make sure it is the layout DnsQueryEx writes.
static_assert(sizeof(DNS_QUERY_RESULT) == 32);
static_assert(offsetof(DNS_QUERY_RESULT, QueryStatus) == 4);
static_assert(offsetof(DNS_QUERY_RESULT, QueryOptions) == 8);
static_assert(offsetof(DNS_QUERY_RESULT, pQueryRecords) == 16);

// DNS_QUERY_CANCEL: an opaque handle that DnsQueryEx fills and DnsCancelQuery reads.
struct DnsQueryCancel {
    char Reserved[32] = {};
};
static_assert(sizeof(DnsQueryCancel) == 32);

inline constexpr ULONG kDnsQueryRequestVersion1 = 1;
inline constexpr ULONG kDnsQueryResultsVersion1 = 1;
// DnsQueryEx accepted the query; the answer comes through the completion callback.
inline constexpr DNS_STATUS kDnsRequestPending = 9506;

using DnsQueryExFunction = DNS_STATUS(WINAPI*)(DnsQueryRequest* request, DNS_QUERY_RESULT* result,
                                               DnsQueryCancel* cancel);
using DnsCancelQueryFunction = DNS_STATUS(WINAPI*)(DnsQueryCancel* cancel);

// The clock and the wait of the resolver's deadline: the steady clock and WaitForSingleObject.
std::chrono::steady_clock::time_point dns_steady_now();
DWORD dns_wait_for_event(HANDLE event, DWORD milliseconds);

struct DnsCalls {
    DnsQueryExFunction query_ex = nullptr;    // null when the system lacks it
    DnsCancelQueryFunction cancel = nullptr;  // null when the system lacks it
    decltype(&DnsQuery_W) query_cache = nullptr;
    decltype(&DnsFree) free = nullptr;
    // The deadline of the parallel queries is kept on this clock, and the answers are awaited
    // through this wait (INFINITE for no limit): a resolver of a test's own runs them on a clock
    // it controls, so the 4 s are its own and not the machine's.
    std::chrono::steady_clock::time_point (*now)() = &dns_steady_now;
    DWORD (*wait)(HANDLE event, DWORD milliseconds) = &dns_wait_for_event;
};

// The system's functions; the two asynchronous ones as found in dnsapi.dll, possibly null.
const DnsCalls& windows_dns_calls();

}  // namespace tarvisko
