#pragma once
// Log lines read "(*** Vostrelle 5 ***) <function> [Line <n>] <message>" and
// go to standard error, which the application appends to its log file.
#include <string>
#include <string_view>

#include <fmt/format.h>

namespace ZMLog {
void write(const char* function, int line, std::string_view message);
std::string formatLine(const char* function, int line, std::string_view message);

// Keeps the last `keep` lines of the file once it holds `threshold` or more.
// Returns false on an I/O error. The application trims before it redirects its
// own output into the file, so no writer of ours races the rewrite; a writer
// that appends through O_APPEND after the rewrite still lands in the file.
bool trimFile(const std::string& path, size_t threshold = 5001, size_t keep = 4000);
}  // namespace ZMLog

#define ZMLOG(...) ::ZMLog::write(__func__, __LINE__, ::fmt::format(__VA_ARGS__))
