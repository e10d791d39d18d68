#include "engine/inventory/ip_tables.h"

namespace tarvisko {

const IpTableCalls& windows_ip_table_calls() {
    static const IpTableCalls calls{&GetIpNetTable2, &GetIpForwardTable2, &GetIfTable2,
                                    &FreeMibTable};
    return calls;
}

}  // namespace tarvisko
