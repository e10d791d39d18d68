#pragma once
// A plain SQLite connection for tests that look at the queue file from outside the store.
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

namespace tarvisko::test {

class RawDb {
  public:
    explicit RawDb(const std::filesystem::path& file) {
        if (sqlite3_open16(file.wstring().c_str(), &db_) != SQLITE_OK) {
            sqlite3_close(db_);
            throw std::runtime_error("raw open failed");
        }
        sqlite3_busy_timeout(db_, 10000);
    }
    ~RawDb() { sqlite3_close(db_); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    sqlite3* get() const { return db_; }

    void exec(const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
            const std::string text = message ? message : "exec failed";
            sqlite3_free(message);
            throw std::runtime_error(text);
        }
    }

    // Column 0 of the first row as text ("" for NULL or no row).
    std::string text(const std::string& sql) {
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(db_));
        }
        std::string value;
        if (sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr) {
            value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
        }
        sqlite3_finalize(statement);
        return value;
    }

    long long number(const std::string& sql) {
        const std::string value = text(sql);
        return value.empty() ? 0 : std::stoll(value);
    }

  private:
    sqlite3* db_ = nullptr;
};

inline std::string file_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tarvisko::test
