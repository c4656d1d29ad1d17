#pragma once
// Failures of the program's own operations: domain "com.zemtrix.vostrelle"
// and an integer code. The user-facing text comes from the "Errors" table,
// keyed by the code in decimal.
#include <optional>
#include <string>

struct ZMError {
    static constexpr const char* kDomain = "com.zemtrix.vostrelle";
    enum Code : int {
        Unknown = 0,
        SourceIncompatible = 23,   // source incompatible with this system version
        DecompressionFailed = 31,
        NoNetwork = 32,
        CommandFailed = 34,        // apt or dpkg failed
        InvalidServerData = 35,
    };

    // Every member has an initializer, so a braced ZMError may leave the last
    // ones out without a warning.
    std::string domain = kDomain;
    int code = Unknown;
    std::string detail{};  // technical detail for the log (and the console)
    // What happened, in words for the user (already localized); when set it
    // is shown instead of the code's general text, which may not fit (a
    // refused redirect is no "network connection" problem).
    std::string reason{};

    static ZMError make(int code, std::string detail = {}) { return ZMError{kDomain, code, std::move(detail), {}}; }

    // The package database refused a read or write (a full disk, an I/O
    // error). A domain of its own, as the object store is a layer of its own
    // (not the repository stores' "com.zemtrix.vostrelle.store", whose
    // refusals the user reads as they are): the "Errors" table has no text
    // for it, the interface tells it in its one database alert.
    static constexpr const char* kStoreDomain = "com.zemtrix.vostrelle.database";
    static ZMError storeFailure(std::string detail) { return ZMError{kStoreDomain, Unknown, std::move(detail), {}}; }
    bool isStoreFailure() const { return domain == kStoreDomain; }

    ZMError withReason(std::string text) const {
        ZMError e = *this;
        e.reason = std::move(text);
        return e;
    }

    // The reason when there is one, else the localized text for this code,
    // else the generic text naming the code.
    std::string localizedDescription() const;
    std::string debugDescription() const;
};

// The outcome of an operation that produces a T or fails with a ZMError.
template <typename T>
struct ZMResult {
    std::optional<T> value;
    std::optional<ZMError> error;
    static ZMResult success(T v) { return ZMResult{std::move(v), std::nullopt}; }
    static ZMResult failure(ZMError e) { return ZMResult{std::nullopt, std::move(e)}; }
    bool ok() const { return value.has_value(); }
    explicit operator bool() const { return ok(); }
};
