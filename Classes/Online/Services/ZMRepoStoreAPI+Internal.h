#pragma once
// What the files of the payment client share: texts of its errors, trimming,
// and the end of a failed operation. Not for other classes.
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMLog.h"
#include "ZMRepoStoreResponseFactory.h"

namespace ZMRepoStoreInternal {

inline std::string trim(std::string_view text) {
    const char* blanks = " \t\r\n\v\f";
    size_t start = text.find_first_not_of(blanks);
    if (start == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(blanks);
    return std::string(text.substr(start, end - start + 1));
}

// The translation of `key` with its placeholders ("%@", "%ld") filled in order.
inline std::string text(const std::string& key, std::initializer_list<std::string> arguments = {}) {
    std::string out = ZMLocalizedString(key);
    size_t from = 0;
    for (const auto& argument : arguments) {
        size_t at = out.find('%', from);
        while (at != std::string::npos && out.compare(at, 2, "%@") != 0 && out.compare(at, 3, "%ld") != 0)
            at = out.find('%', at + 1);
        if (at == std::string::npos) break;
        out.replace(at, out.compare(at, 2, "%@") == 0 ? 2 : 3, argument);
        from = at + argument.size();
    }
    return out;
}

// An HTTP status a store gives to a user it does not know (any more).
inline bool isRefusal(const std::optional<RepoStoreError>& error) {
    return error && error->domain == ZMError::kDomain && (error->code == 401 || error->code == 403);
}

inline RepoStoreError failure(int code, const std::string& key, std::initializer_list<std::string> arguments = {}) {
    return RepoStoreError::make(code, text(key, arguments));
}

inline void logError(const RepoStoreError& error) { ZMLOG("ERROR: {}", error.localizedDescription); }

// The end of a failed operation: the error in the record, a log line, the completion.
template <typename R>
void complete(const std::function<void(bool, const R&)>& completion, R response, RepoStoreError error, bool failed = true) {
    response.error = std::move(error);
    logError(*response.error);
    completion(failed, response);
}

}  // namespace ZMRepoStoreInternal
