#pragma once
// Every text shown to the user goes through a string table. Tables are JSON
// objects in <resources>/Localization/<language>/<Table>.json mapping the
// English text (the key) to the translation; a missing entry shows the key.
#include <string>
#include <string_view>
#include <vector>

namespace ZMLocalization {
// The language in use ("en" by default; the settings may switch it).
std::string language();
void setLanguage(const std::string& language);
// The translation of `key` in `table` ("Localizable" by default).
std::string string(const std::string& key, const std::string& table = "Localizable");
// `format` with each "%@" replaced, in order, by the next argument. Inserted
// text is never scanned again, so a value holding "%@" stays as it is;
// missing arguments leave the rest of the placeholders empty.
std::string fill(std::string_view format, const std::vector<std::string>& arguments);
// The translation of `key` filled with `arguments`.
std::string format(const std::string& key, const std::vector<std::string>& arguments);
// Drops the loaded tables (after a language switch or in tests).
void reload();
}  // namespace ZMLocalization

#define ZMLocalizedString(key) ::ZMLocalization::string(key)
