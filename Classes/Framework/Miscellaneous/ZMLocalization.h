#pragma once
// Every text shown to the user goes through a string table. Tables are JSON
// objects in <resources>/Localization/<language>/<Table>.json mapping the
// English text (the key) to the translation; a missing entry shows the key.
#include <string>

namespace ZMLocalization {
// The language in use ("en" by default; the settings may switch it).
std::string language();
void setLanguage(const std::string& language);
// The translation of `key` in `table` ("Localizable" by default).
std::string string(const std::string& key, const std::string& table = "Localizable");
// Drops the loaded tables (after a language switch or in tests).
void reload();
}  // namespace ZMLocalization

#define ZMLocalizedString(key) ::ZMLocalization::string(key)
