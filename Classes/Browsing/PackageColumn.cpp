#include "Browsing/PackageColumn.h"

namespace PackageColumn {

std::vector<std::string> texts(const Results<ZMRPackage>& results, const std::string& property, size_t limit) {
    const auto& core = *results.core();
    std::string sql = core.querySql(("\"" + property + "\"").c_str());
    if (limit > 0) sql += " LIMIT " + std::to_string(limit);
    auto values = core.realm()->queryColumn(sql, core.where().bindings, *ZMRPackage::schema().property(property));
    std::vector<std::string> out;
    out.reserve(values.size());
    for (auto& v : values)
        if (auto* s = std::get_if<std::string>(&v)) out.push_back(std::move(*s));
    return out;
}

}  // namespace PackageColumn
