#pragma once
// Recorded IP Helper tables behind IpTableCalls: each call hands out a fresh copy of the rows the
// test set, with the result code it set (also a table together with a failure, as Wine does),
// and FreeMibTable counts what comes back. One fake at a time.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "engine/inventory/ip_tables.h"

namespace tarvisko::test {

class FakeIpTables {
  public:
    struct Answer {
        DWORD result = NO_ERROR;
        bool table_on_failure = false;  // hand a table back even when failing
    };

    FakeIpTables() { current() = this; }
    ~FakeIpTables() { current() = nullptr; }
    FakeIpTables(const FakeIpTables&) = delete;
    FakeIpTables& operator=(const FakeIpTables&) = delete;

    IpTableCalls calls() const {
        return {&FakeIpTables::net_table, &FakeIpTables::forward_table, &FakeIpTables::if_table,
                &FakeIpTables::free_table};
    }

    std::vector<MIB_IPNET_ROW2> neighbors;
    std::vector<MIB_IPFORWARD_ROW2> routes;
    // Interface table rows per call: call k gets if_rows[min(k, size - 1)].
    std::vector<std::vector<MIB_IF_ROW2>> if_rows{{}};
    Answer net_answer, forward_answer, if_answer;
    // Runs before each interface-table call (tests read their clock there).
    std::function<void()> on_if_table;

    int if_calls = 0;
    int handed_out = 0;
    int freed = 0;
    std::vector<ADDRESS_FAMILY> net_families, forward_families;

  private:
    static FakeIpTables*& current() {
        static FakeIpTables* fake = nullptr;
        return fake;
    }

    template <typename Table, typename Row>
    static DWORD hand_out(const std::vector<Row>& rows, const Answer& answer, Table** table) {
        *table = nullptr;
        if (answer.result != NO_ERROR && !answer.table_on_failure) return answer.result;
        const std::size_t bytes = sizeof(Table) + rows.size() * sizeof(Row);
        auto* made = static_cast<Table*>(std::calloc(1, bytes));
        made->NumEntries = static_cast<ULONG>(rows.size());
        if (!rows.empty()) std::memcpy(made->Table, rows.data(), rows.size() * sizeof(Row));
        ++current()->handed_out;
        *table = made;
        return answer.result;
    }

    static DWORD WINAPI net_table(ADDRESS_FAMILY family, PMIB_IPNET_TABLE2* table) {
        current()->net_families.push_back(family);
        return hand_out(current()->neighbors, current()->net_answer, table);
    }
    static DWORD WINAPI forward_table(ADDRESS_FAMILY family, PMIB_IPFORWARD_TABLE2* table) {
        current()->forward_families.push_back(family);
        return hand_out(current()->routes, current()->forward_answer, table);
    }
    static DWORD WINAPI if_table(PMIB_IF_TABLE2* table) {
        FakeIpTables& self = *current();
        if (self.on_if_table) self.on_if_table();
        const std::size_t index =
            std::min<std::size_t>(static_cast<std::size_t>(self.if_calls), self.if_rows.size() - 1);
        ++self.if_calls;
        return hand_out(self.if_rows[index], self.if_answer, table);
    }
    static VOID WINAPI free_table(PVOID memory) {
        if (memory == nullptr) return;
        ++current()->freed;
        std::free(memory);
    }
};

// An interface row with the members the readings look at.
inline MIB_IF_ROW2 interface_row(ULONG64 luid, const wchar_t* alias, ULONG64 in_octets,
                                 ULONG64 out_octets, IFTYPE type = 6,
                                 IF_OPER_STATUS status = IfOperStatusUp) {
    MIB_IF_ROW2 row{};
    row.InterfaceLuid.Value = luid;
    row.InterfaceIndex = static_cast<NET_IFINDEX>(luid);
    wcsncpy(row.Alias, alias, IF_MAX_STRING_SIZE);
    row.Type = type;
    row.OperStatus = status;
    row.InOctets = in_octets;
    row.OutOctets = out_octets;
    return row;
}

}  // namespace tarvisko::test
