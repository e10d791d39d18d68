#pragma once
// The small files of the games page in the user's local application data (the catalogue cache
// and the favourite targets), and bounded reads of files the program does not control.
#include <cstddef>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace tarvisko {

// %LOCALAPPDATA%\QUORVEL\Sondaro\<prefix><sha256_hex(origin)>.json; an empty path when
// LOCALAPPDATA is unset or empty (a relative path would land in the working folder).
std::filesystem::path origin_file_path(const std::wstring& prefix, const std::wstring& origin);

// A piece of a file read through one handle, with what lies outside it.
struct FilePiece {
    std::string bytes;
    bool from_start = true;  // the piece begins at the file's first byte
    bool whole_file = true;  // nothing of the file lies outside the piece
};

// The first `limit` bytes, or the last `limit` bytes (64-bit offsets), of a regular file;
// nothing when it cannot be opened or read (missing, a folder, locked by another process).
std::optional<FilePiece> read_file_head(const std::filesystem::path& path, std::size_t limit);
std::optional<FilePiece> read_file_tail(const std::filesystem::path& path, std::size_t limit);

// Reads a file the program wrote itself and parses it without raising. Anything but a readable
// file of at most 1 MiB holding one JSON value of bounded depth gives a discarded value: the
// program writes far less, and a larger file would stall the window thread.
nlohmann::json read_small_json_file(const std::filesystem::path& path);

// Creates the file's folder and its missing parents; throws a filesystem error naming
// "create_directories".
void create_parent_folders(const std::filesystem::path& file);

}  // namespace tarvisko
