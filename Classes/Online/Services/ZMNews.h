#pragma once
// One news item of the maker (ZMNewsRetrieval). A field the reply leaves out,
// or gives in another type, is empty; `banner` holds only an http(s) URL.
#include <string>

#include <nlohmann/json.hpp>

struct ZMNews {
    std::string author;
    std::string title;
    std::string banner;   // banner image URL
    std::string content;  // plain text
    std::string date;     // shown as it comes, never parsed

    static ZMNews fromJSON(const nlohmann::json& element);
};
