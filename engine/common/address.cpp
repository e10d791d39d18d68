#include "engine/common/address.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace tarvisko {

namespace {

std::string ntop(int family, const void* bytes) {
    char buffer[65]{};
    if (inet_ntop(family, bytes, buffer, sizeof buffer) == nullptr) {
        throw std::runtime_error("InetNtopA failed");
    }
    return buffer;
}

struct Ipv4Range {
    std::uint32_t base;
    int prefix;
};

constexpr std::uint32_t ipv4(int a, int b, int c, int d) {
    return (static_cast<std::uint32_t>(a) << 24) | (static_cast<std::uint32_t>(b) << 16) |
           (static_cast<std::uint32_t>(c) << 8) | static_cast<std::uint32_t>(d);
}

// Addresses that are not globally routable.
constexpr std::array<Ipv4Range, 14> non_public_ipv4{{
    {ipv4(0, 0, 0, 0), 8},        // this network
    {ipv4(10, 0, 0, 0), 8},       // private
    {ipv4(100, 64, 0, 0), 10},    // shared address space (carrier-grade NAT)
    {ipv4(127, 0, 0, 0), 8},      // loopback
    {ipv4(169, 254, 0, 0), 16},   // link-local
    {ipv4(172, 16, 0, 0), 12},    // private
    {ipv4(192, 0, 0, 0), 24},     // protocol assignments
    {ipv4(192, 0, 2, 0), 24},     // documentation
    {ipv4(192, 88, 99, 0), 24},   // 6to4 relay anycast
    {ipv4(192, 168, 0, 0), 16},   // private
    {ipv4(198, 18, 0, 0), 15},    // benchmarking
    {ipv4(198, 51, 100, 0), 24},  // documentation
    {ipv4(203, 0, 113, 0), 24},   // documentation
    {ipv4(224, 0, 0, 0), 3},      // multicast, reserved, broadcast
}};

bool in_range(std::uint32_t address, Ipv4Range range) {
    const std::uint32_t mask = range.prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - range.prefix);
    return (address & mask) == range.base;
}

bool ipv6_prefix(const IN6_ADDR& address, std::initializer_list<std::uint8_t> bytes, int bits) {
    int index = 0;
    for (std::uint8_t expected : bytes) {
        const int remaining = bits - index * 8;
        if (remaining <= 0) break;
        const std::uint8_t mask =
            remaining >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - remaining));
        if ((address.s6_addr[index] & mask) != (expected & mask)) return false;
        ++index;
    }
    return true;
}

}  // namespace

Target parse_ip_literal(const std::string& text) {
    Target target;
    IN_ADDR v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        const std::uint32_t host = ntohl(v4.s_addr);
        if (host == 0 || host >= ipv4(224, 0, 0, 0)) {
            throw std::invalid_argument("IPv4 unicast required");
        }
        target.address.Ipv4.sin_family = AF_INET;
        target.address.Ipv4.sin_addr = v4;
        target.text = ntop(AF_INET, &v4);
        return target;
    }
    IN6_ADDR v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) {
        throw std::invalid_argument("numeric IPv4 or IPv6 address required");
    }
    static const std::uint8_t unspecified[16]{};
    const bool mapped = ipv6_prefix(v6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 96);
    if (std::memcmp(v6.s6_addr, unspecified, 16) == 0 || v6.s6_addr[0] == 0xFF ||
        ipv6_prefix(v6, {0xFE, 0x80}, 10) || mapped) {
        throw std::invalid_argument("unscoped IPv6 unicast required");
    }
    target.address.Ipv6.sin6_family = AF_INET6;
    target.address.Ipv6.sin6_addr = v6;
    target.text = ntop(AF_INET6, &v6);
    return target;
}

bool is_public_address(const Target& target) {
    if (target.address.si_family == AF_INET) {
        const std::uint32_t host = ntohl(target.address.Ipv4.sin_addr.s_addr);
        for (const Ipv4Range& range : non_public_ipv4) {
            if (in_range(host, range)) return false;
        }
        return true;
    }
    if (target.address.si_family != AF_INET6) return false;
    const IN6_ADDR& v6 = target.address.Ipv6.sin6_addr;
    if (!ipv6_prefix(v6, {0x20}, 3)) return false;
    if (ipv6_prefix(v6, {0x20, 0x01, 0x00}, 23)) return false;           // protocol assignments
    if (ipv6_prefix(v6, {0x20, 0x01, 0x0D, 0xB8}, 32)) return false;     // documentation
    if (ipv6_prefix(v6, {0x20, 0x02}, 16)) return false;                 // 6to4
    if (ipv6_prefix(v6, {0x3F, 0xFF, 0x00}, 20)) return false;           // documentation
    return true;
}

}  // namespace tarvisko
