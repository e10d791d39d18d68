#pragma once
// A stand-in resolver behind the DNS table of functions: DnsQueryEx answers from the fake's own
// thread after a set delay (or only when cancelled), DnsQuery_W from a table of cached names, and
// DnsFree releases only what the fake handed out. It records what it was asked, so that tests
// can see the order of queries, cancellations and completions. One fake at a time.
//
// Its delays run on a clock of its own that the code under test drives: the table's clock reads
// it, and the table's wait moves it on to the next answer that falls due or to the end of the
// wait, whichever comes first. So a 4 s deadline passes at once, however busy the machine is,
// and tests assert the instants at which things happened on that clock.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "readings/dns_calls.h"

namespace tarvisko::test {

struct FakeRecord {
    WORD type = DNS_TYPE_PTR;
    std::optional<std::wstring> name;  // the PTR target; none leaves pNameHost null
};

struct FakeAnswer {
    // What DnsQueryEx returns: 9506 answers later through the callback; anything else is a
    // synchronous answer with this status (and the records when it is 0).
    DNS_STATUS returned = kDnsRequestPending;
    DNS_STATUS status = ERROR_SUCCESS;  // QueryStatus of the later answer
    std::vector<FakeRecord> records;
    std::chrono::milliseconds delay{0};
    bool silent = false;  // never answers unless cancelled
};

inline FakeAnswer ptr_answer(std::wstring name, std::chrono::milliseconds delay = {}) {
    FakeAnswer answer;
    answer.records.push_back({DNS_TYPE_PTR, std::move(name)});
    answer.delay = delay;
    return answer;
}

class FakeResolver {
  public:
    FakeResolver();
    ~FakeResolver();
    FakeResolver(const FakeResolver&) = delete;
    FakeResolver& operator=(const FakeResolver&) = delete;

    // The table of functions; either asynchronous function can be left out, as a system that
    // lacks it would.
    DnsCalls calls(bool with_query_ex = true, bool with_cancel = true) const;

    // Answers for one query name; names without their own get `fallback` (silent by default).
    void answer(const std::wstring& query_name, FakeAnswer answer);
    void fallback(FakeAnswer answer);
    // Cached names for DnsQuery_W; other names fail with 9701 (no record).
    void cache(const std::wstring& query_name, std::vector<FakeRecord> records,
               DNS_STATUS status = ERROR_SUCCESS);
    // No answer leaves before this many queries were issued.
    void hold_answers_until_issued(std::size_t count);
    // Runs on the caller's thread right after the n-th query (1-based) was accepted.
    void on_issue(std::function<void(std::size_t)> hook);
    // How long a cancelled query takes to complete (with ERROR_CANCELLED).
    void cancel_delay(std::chrono::milliseconds delay);
    // Runs `hook` on the waiting thread when the fake's clock reaches `when` after its start.
    void at(std::chrono::milliseconds when, std::function<void()> hook);

    // Time passed on the fake's clock since the fake was made.
    std::chrono::milliseconds elapsed() const;
    // When each cancellation of cancelled() came, on the fake's clock.
    std::vector<std::chrono::milliseconds> cancelled_at() const;

    std::vector<std::wstring> issued() const;
    std::vector<DnsQueryRequest> requests() const;
    std::vector<std::wstring> cancelled() const;
    std::size_t completions() const;
    std::vector<std::wstring> cache_queries() const;
    std::vector<DWORD> cache_options() const;
    // Record lists handed out and not yet freed, and frees of anything else.
    std::size_t outstanding_records() const;
    std::size_t bad_frees() const;

  private:
    struct Pending;
    struct RecordBlock;

    static DNS_STATUS WINAPI query_ex(DnsQueryRequest* request, DNS_QUERY_RESULT* result,
                                      DnsQueryCancel* cancel);
    static DNS_STATUS WINAPI cancel_query(DnsQueryCancel* cancel);
    static DNS_STATUS WINAPI query_cache(PCWSTR name, WORD type, DWORD options, PIP4_ARRAY servers,
                                         PDNS_RECORD* results, PVOID* reserved);
    static VOID WINAPI free_records(PVOID data, DNS_FREE_TYPE type);
    static std::chrono::steady_clock::time_point clock_now();
    // Answers what falls due while the clock moves on to the end of the wait; WAIT_FAILED when
    // the wait has no end and nothing could ever signal the event.
    static DWORD wait(HANDLE event, DWORD milliseconds);

    // Under the lock.
    DNS_RECORDW* make_records(const std::vector<FakeRecord>& records);
    bool deliverable(const Pending& pending) const;
    bool due_now() const;
    void run();

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool ending_ = false;
    std::map<std::wstring, FakeAnswer> answers_;
    FakeAnswer fallback_;
    std::map<std::wstring, std::pair<DNS_STATUS, std::vector<FakeRecord>>> cache_;
    std::size_t hold_until_ = 0;
    std::function<void(std::size_t)> on_issue_;
    std::chrono::milliseconds cancel_delay_{20};
    const std::chrono::steady_clock::time_point start_{};
    std::chrono::steady_clock::time_point now_{};
    std::size_t delivering_ = 0;  // callbacks running on the fake's thread
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::function<void()>>> alarms_;
    std::vector<std::chrono::milliseconds> cancelled_at_;
    std::vector<std::unique_ptr<Pending>> pending_;
    std::vector<std::wstring> issued_;
    std::vector<DnsQueryRequest> requests_;
    std::vector<std::wstring> cancelled_;
    std::size_t completions_ = 0;
    std::vector<std::wstring> cache_queries_;
    std::vector<DWORD> cache_options_;
    std::map<void*, std::unique_ptr<RecordBlock>> records_;
    std::size_t bad_frees_ = 0;
    std::thread thread_;
};

// Installs a table of functions for the DNS look-ups that use the active one, for the scope.
class ScopedDnsCalls {
  public:
    explicit ScopedDnsCalls(const DnsCalls& calls);
    ~ScopedDnsCalls();
    ScopedDnsCalls(const ScopedDnsCalls&) = delete;
    ScopedDnsCalls& operator=(const ScopedDnsCalls&) = delete;

  private:
    DnsCalls calls_;
    const DnsCalls* previous_;
};

}  // namespace tarvisko::test
