#pragma once
// Digests (MD5, SHA-1, SHA-256) of bytes and files, and hex text.
// Bytes travel in std::string / std::string_view.
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace DataHashes {

enum class Algorithm { MD5, SHA1, SHA256 };

// Lowercase hex digests.
std::string md5(std::string_view data);
std::string sha1(std::string_view data);
std::string sha256(std::string_view data);
std::string digest(Algorithm algorithm, std::string_view data);

// Digest of a file, read in chunks (any size); nullopt when unreadable.
std::optional<std::string> md5OfFile(const std::string& path);
std::optional<std::string> sha1OfFile(const std::string& path);
std::optional<std::string> sha256OfFile(const std::string& path);
std::optional<std::string> digestOfFile(Algorithm algorithm, const std::string& path);

// For data that arrives in pieces (e.g. while downloading).
class Hasher {
public:
    explicit Hasher(Algorithm algorithm);
    ~Hasher();
    Hasher(const Hasher&) = delete;
    Hasher& operator=(const Hasher&) = delete;
    void update(std::string_view data);
    // The lowercase hex digest; the hasher starts over afterwards.
    std::string finish();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "\x01\xab" -> "01ab".
std::string hexString(std::string_view bytes);
// "01AB" or "01ab" -> "\x01\xab"; nullopt for an odd length or a non-hex digit.
std::optional<std::string> dataFromHexString(std::string_view hex);

}  // namespace DataHashes
