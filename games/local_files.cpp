#include "games/local_files.h"

#include <windows.h>

#include <stdexcept>
#include <system_error>

#include "engine/common/handle_guard.h"
#include "engine/common/hash.h"
#include "engine/common/json_document.h"
#include "engine/common/system.h"

namespace tarvisko {
namespace {

constexpr std::size_t kSmallFileLimit = 1u << 20;

void close_file(HANDLE handle) { CloseHandle(handle); }

// Readers share everything: a game keeps its log open for writing, and our own files may be
// replaced by a concurrent move.
HandleGuard<HANDLE> open_for_reading(const std::filesystem::path& path) {
    return HandleGuard<HANDLE>(CreateFileW(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr),
                               close_file, INVALID_HANDLE_VALUE);
}

std::optional<FilePiece> read_piece(const std::filesystem::path& path, std::size_t limit,
                                    bool from_end) {
    HandleGuard<HANDLE> file = open_for_reading(path);
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) return std::nullopt;
    const auto total = static_cast<unsigned long long>(size.QuadPart);
    const std::size_t wanted = total < limit ? static_cast<std::size_t>(total) : limit;
    FilePiece piece;
    if (from_end && total > wanted) {
        LARGE_INTEGER offset{};
        offset.QuadPart = static_cast<LONGLONG>(total - wanted);
        if (!SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN)) return std::nullopt;
        piece.from_start = false;
    }
    piece.whole_file = total == wanted;
    piece.bytes.resize(wanted);
    std::size_t got = 0;
    while (got < wanted) {
        DWORD read = 0;
        if (!ReadFile(file.get(), piece.bytes.data() + got, static_cast<DWORD>(wanted - got), &read,
                      nullptr)) {
            return std::nullopt;
        }
        if (read == 0) break;  // the file shrank meanwhile
        got += read;
    }
    piece.bytes.resize(got);
    return piece;
}

}  // namespace

std::filesystem::path origin_file_path(const std::wstring& prefix, const std::wstring& origin) {
    const std::wstring root = read_environment_variable(L"LOCALAPPDATA");
    if (root.empty()) return {};
    return std::filesystem::path(root) / L"QUORVEL" / L"Sondaro" /
           (prefix + sha256_hex(origin) + L".json");
}

std::optional<FilePiece> read_file_head(const std::filesystem::path& path, std::size_t limit) {
    return read_piece(path, limit, false);
}

std::optional<FilePiece> read_file_tail(const std::filesystem::path& path, std::size_t limit) {
    return read_piece(path, limit, true);
}

nlohmann::json read_small_json_file(const std::filesystem::path& path) {
    if (path.empty()) return nlohmann::json::value_t::discarded;
    const std::optional<FilePiece> piece = read_file_head(path, kSmallFileLimit);
    if (!piece || !piece->whole_file) return nlohmann::json::value_t::discarded;
    std::optional<nlohmann::json> parsed = parse_json_document(piece->bytes);
    return parsed ? std::move(*parsed) : nlohmann::json(nlohmann::json::value_t::discarded);
}

void create_parent_folders(const std::filesystem::path& file) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error)
        throw std::filesystem::filesystem_error("create_directories", file.parent_path(), error);
}

}  // namespace tarvisko
