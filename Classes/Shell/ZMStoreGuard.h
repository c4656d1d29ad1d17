#pragma once
// A user's action that reads or writes the package database. The database
// can fail under it (a full disk, an I/O error): the failure is logged and
// told in one alert, the action stops where it failed (a write transaction
// leaves nothing behind), and the program goes on. Failures close together
// share the alert already up.
//
//   if (!ZMStoreGuard::run("following a source", [&] { realm->transactionWithBlock(...); })) return;
//   auto empty = ZMStoreGuard::value("opening a source", [&] { return packages.empty(); });
//   if (!empty) return;  // told already
//   auto package = ZMStoreGuard::record<ZMRPackage>("reading a package", identifier);
//
// A write the action hands to a background queue reports back through its
// completion (ZMError::isStoreFailure()); the screen passes it to tell() and
// shows what is stored again.
#include <functional>
#include <optional>
#include <string>
#include <type_traits>

#include "Miscellaneous/ZMError.h"

namespace ZMStoreGuard {

// Runs `action`; false (after the alert) when the database failed in it.
// `what` names the action in the log. A record that went between counting
// and reading (std::out_of_range) is no failure: false, without an alert.
bool run(const char* what, const std::function<void()>& action);

// The value `read` gives, or nothing (after the alert) when the database failed.
template <typename Read>
auto value(const char* what, Read&& read) -> std::optional<std::invoke_result_t<Read>> {
    std::optional<std::invoke_result_t<Read>> out;
    run(what, [&] { out.emplace(read()); });
    return out;
}

// The record with this primary key: none when there is none, or when the
// database failed (after the alert).
template <typename Record>
std::optional<Record> record(const char* what, const std::string& key) {
    return value(what, [&] { return Record::objectForPrimaryKey(key); }).value_or(std::nullopt);
}

// Logs a failure that a write on a background queue handed back and tells it
// in the same alert. Any thread.
void tell(const char* what, const ZMError& failure);

// The alert's texts (localized).
std::string alertTitle();
std::string alertMessage();

}  // namespace ZMStoreGuard
