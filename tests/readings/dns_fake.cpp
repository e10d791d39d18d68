#include "dns_fake.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <stdexcept>

#include "readings/reverse_dns.h"

namespace tarvisko::test {

namespace {

FakeResolver* current = nullptr;
constexpr DNS_STATUS kNoRecord = 9701;

}  // namespace

struct FakeResolver::Pending {
    std::size_t id = 0;
    std::wstring name;
    DNS_QUERY_RESULT* result = nullptr;
    PDNS_QUERY_COMPLETION_ROUTINE callback = nullptr;
    PVOID context = nullptr;
    FakeAnswer answer;
    std::optional<std::chrono::steady_clock::time_point> due;
    bool cancelled = false;
    bool done = false;
};

struct FakeResolver::RecordBlock {
    std::vector<DNS_RECORDW> nodes;
    std::list<std::wstring> names;  // stable addresses for pNameHost
};

FakeResolver::FakeResolver() {
    if (current != nullptr) throw std::logic_error("one FakeResolver at a time");
    fallback_.silent = true;
    current = this;
    thread_ = std::thread([this] { run(); });
}

FakeResolver::~FakeResolver() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
    current = nullptr;
}

DnsCalls FakeResolver::calls(bool with_query_ex, bool with_cancel) const {
    DnsCalls calls;
    calls.query_ex = with_query_ex ? &FakeResolver::query_ex : nullptr;
    calls.cancel = with_cancel ? &FakeResolver::cancel_query : nullptr;
    calls.query_cache = &FakeResolver::query_cache;
    calls.free = &FakeResolver::free_records;
    calls.now = &FakeResolver::clock_now;
    calls.wait = &FakeResolver::wait;
    return calls;
}

void FakeResolver::answer(const std::wstring& query_name, FakeAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_[query_name] = std::move(answer);
}

void FakeResolver::fallback(FakeAnswer answer) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(answer);
}

void FakeResolver::cache(const std::wstring& query_name, std::vector<FakeRecord> records,
                         DNS_STATUS status) {
    std::lock_guard lock(mutex_);
    cache_[query_name] = {status, std::move(records)};
}

void FakeResolver::hold_answers_until_issued(std::size_t count) {
    std::lock_guard lock(mutex_);
    hold_until_ = count;
}

void FakeResolver::on_issue(std::function<void(std::size_t)> hook) {
    std::lock_guard lock(mutex_);
    on_issue_ = std::move(hook);
}

void FakeResolver::cancel_delay(std::chrono::milliseconds delay) {
    std::lock_guard lock(mutex_);
    cancel_delay_ = delay;
}

void FakeResolver::at(std::chrono::milliseconds when, std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    alarms_.emplace_back(start_ + when, std::move(hook));
}

std::chrono::milliseconds FakeResolver::elapsed() const {
    std::lock_guard lock(mutex_);
    return std::chrono::duration_cast<std::chrono::milliseconds>(now_ - start_);
}

std::vector<std::chrono::milliseconds> FakeResolver::cancelled_at() const {
    std::lock_guard lock(mutex_);
    return cancelled_at_;
}

std::vector<std::wstring> FakeResolver::issued() const {
    std::lock_guard lock(mutex_);
    return issued_;
}

std::vector<DnsQueryRequest> FakeResolver::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::wstring> FakeResolver::cancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

std::size_t FakeResolver::completions() const {
    std::lock_guard lock(mutex_);
    return completions_;
}

std::vector<std::wstring> FakeResolver::cache_queries() const {
    std::lock_guard lock(mutex_);
    return cache_queries_;
}

std::vector<DWORD> FakeResolver::cache_options() const {
    std::lock_guard lock(mutex_);
    return cache_options_;
}

std::size_t FakeResolver::outstanding_records() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::size_t FakeResolver::bad_frees() const {
    std::lock_guard lock(mutex_);
    return bad_frees_;
}

DNS_RECORDW* FakeResolver::make_records(const std::vector<FakeRecord>& records) {
    if (records.empty()) return nullptr;
    auto block = std::make_unique<RecordBlock>();
    block->nodes.resize(records.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
        DNS_RECORDW& node = block->nodes[i];
        std::memset(&node, 0, sizeof node);
        node.pNext = i + 1 < records.size() ? &block->nodes[i + 1] : nullptr;
        node.wType = records[i].type;
        if (records[i].name) {
            node.Data.PTR.pNameHost = block->names.emplace_back(*records[i].name).data();
        }
    }
    DNS_RECORDW* head = block->nodes.data();
    records_[head] = std::move(block);
    return head;
}

DNS_STATUS WINAPI FakeResolver::query_ex(DnsQueryRequest* request, DNS_QUERY_RESULT* result,
                                         DnsQueryCancel* cancel) {
    FakeResolver& self = *current;
    std::function<void(std::size_t)> hook;
    std::size_t count = 0;
    DNS_STATUS returned = 0;
    {
        std::lock_guard lock(self.mutex_);
        const std::wstring name = request->QueryName;
        self.issued_.push_back(name);
        self.requests_.push_back(*request);
        const auto own = self.answers_.find(name);
        const FakeAnswer answer = own != self.answers_.end() ? own->second : self.fallback_;
        returned = answer.returned;
        if (returned != kDnsRequestPending) {
            result->QueryStatus = returned;
            result->pQueryRecords =
                returned == ERROR_SUCCESS ? self.make_records(answer.records) : nullptr;
        } else {
            auto pending = std::make_unique<Pending>();
            pending->id = self.issued_.size();
            pending->name = name;
            pending->result = result;
            pending->callback = request->pQueryCompletionCallback;
            pending->context = request->pQueryContext;
            pending->answer = answer;
            if (!answer.silent) pending->due = self.now_ + answer.delay;
            std::memcpy(cancel->Reserved, &pending->id, sizeof pending->id);
            result->QueryStatus = kDnsRequestPending;
            self.pending_.push_back(std::move(pending));
        }
        count = self.issued_.size();
        hook = self.on_issue_;
    }
    self.changed_.notify_all();
    if (hook) hook(count);
    return returned;
}

DNS_STATUS WINAPI FakeResolver::cancel_query(DnsQueryCancel* cancel) {
    FakeResolver& self = *current;
    std::size_t id = 0;
    std::memcpy(&id, cancel->Reserved, sizeof id);
    {
        std::lock_guard lock(self.mutex_);
        Pending* found = nullptr;
        for (const auto& pending : self.pending_) {
            if (pending->id == id) found = pending.get();
        }
        if (found == nullptr || found->done || found->cancelled) return ERROR_NOT_FOUND;
        found->cancelled = true;
        found->due = self.now_ + self.cancel_delay_;
        self.cancelled_.push_back(found->name);
        self.cancelled_at_.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(self.now_ - self.start_));
    }
    self.changed_.notify_all();
    return ERROR_SUCCESS;
}

DNS_STATUS WINAPI FakeResolver::query_cache(PCWSTR name, WORD, DWORD options, PIP4_ARRAY,
                                            PDNS_RECORD* results, PVOID*) {
    FakeResolver& self = *current;
    std::lock_guard lock(self.mutex_);
    self.cache_queries_.emplace_back(name);
    self.cache_options_.push_back(options);
    const auto found = self.cache_.find(name);
    if (found == self.cache_.end()) return kNoRecord;
    if (found->second.first != ERROR_SUCCESS) return found->second.first;
    *results = self.make_records(found->second.second);
    return ERROR_SUCCESS;
}

VOID WINAPI FakeResolver::free_records(PVOID data, DNS_FREE_TYPE) {
    FakeResolver& self = *current;
    std::lock_guard lock(self.mutex_);
    if (self.records_.erase(data) == 0) ++self.bad_frees_;
}

std::chrono::steady_clock::time_point FakeResolver::clock_now() {
    FakeResolver& self = *current;
    std::lock_guard lock(self.mutex_);
    return self.now_;
}

bool FakeResolver::deliverable(const Pending& pending) const {
    return !pending.done && pending.due && (pending.cancelled || issued_.size() >= hold_until_);
}

bool FakeResolver::due_now() const {
    for (const auto& pending : pending_) {
        if (deliverable(*pending) && *pending->due <= now_) return true;
    }
    return false;
}

DWORD FakeResolver::wait(HANDLE event, DWORD milliseconds) {
    FakeResolver& self = *current;
    using time_point = std::chrono::steady_clock::time_point;
    std::unique_lock lock(self.mutex_);
    const bool forever = milliseconds == INFINITE;
    const time_point end = self.now_ + std::chrono::milliseconds(forever ? 0 : milliseconds);
    for (;;) {
        // Whatever is due by now has been answered before the event is looked at.
        self.changed_.wait(lock, [&] { return self.delivering_ == 0 && !self.due_now(); });
        if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return WAIT_OBJECT_0;
        if (!forever && self.now_ >= end) return WAIT_TIMEOUT;
        std::optional<time_point> next;
        if (!forever) next = end;
        for (const auto& pending : self.pending_) {
            if (self.deliverable(*pending) && (!next || *pending->due < *next)) next = pending->due;
        }
        for (const auto& alarm : self.alarms_) {
            if (!next || alarm.first < *next) next = alarm.first;
        }
        if (!next) return WAIT_FAILED;
        self.now_ = std::max(self.now_, *next);
        self.changed_.notify_all();
        for (auto alarm = self.alarms_.begin(); alarm != self.alarms_.end();) {
            if (alarm->first > self.now_) {
                ++alarm;
                continue;
            }
            const std::function<void()> hook = std::move(alarm->second);
            self.alarms_.erase(alarm);
            lock.unlock();
            hook();
            lock.lock();
            alarm = self.alarms_.begin();
        }
    }
}

void FakeResolver::run() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
        Pending* next = nullptr;
        for (const auto& pending : pending_) {
            if (deliverable(*pending) && *pending->due <= now_) {
                next = pending.get();
                break;
            }
        }
        if (next == nullptr) {
            changed_.wait(lock);
            continue;
        }
        next->done = true;
        if (next->cancelled) {
            next->result->QueryStatus = ERROR_CANCELLED;
            next->result->pQueryRecords = nullptr;
        } else {
            next->result->QueryStatus = next->answer.status;
            next->result->pQueryRecords =
                next->answer.status == ERROR_SUCCESS ? make_records(next->answer.records) : nullptr;
        }
        ++completions_;
        ++delivering_;
        const auto callback = next->callback;
        const auto context = next->context;
        DNS_QUERY_RESULT* result = next->result;
        lock.unlock();
        callback(context, result);
        lock.lock();
        --delivering_;
        changed_.notify_all();
    }
}

ScopedDnsCalls::ScopedDnsCalls(const DnsCalls& calls)
    : calls_(calls), previous_(install_dns_calls(&calls_)) {}

ScopedDnsCalls::~ScopedDnsCalls() { install_dns_calls(previous_); }

}  // namespace tarvisko::test
