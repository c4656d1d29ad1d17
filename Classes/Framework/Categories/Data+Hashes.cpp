#include "Data+Hashes.h"

#include <openssl/evp.h>

#include <cctype>
#include <fstream>
#include <vector>

namespace DataHashes {
namespace {
const EVP_MD* md(Algorithm a) {
    switch (a) {
    case Algorithm::MD5: return EVP_md5();
    case Algorithm::SHA1: return EVP_sha1();
    case Algorithm::SHA256: return EVP_sha256();
    }
    return EVP_sha256();
}
}  // namespace

struct Hasher::Impl {
    Algorithm algorithm;
    EVP_MD_CTX* ctx = nullptr;
};

Hasher::Hasher(Algorithm algorithm) : impl_(new Impl{algorithm, EVP_MD_CTX_new()}) {
    EVP_DigestInit_ex(impl_->ctx, md(algorithm), nullptr);
}

Hasher::~Hasher() { EVP_MD_CTX_free(impl_->ctx); }

void Hasher::update(std::string_view data) { EVP_DigestUpdate(impl_->ctx, data.data(), data.size()); }

std::string Hasher::finish() {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(impl_->ctx, out, &length);
    EVP_DigestInit_ex(impl_->ctx, md(impl_->algorithm), nullptr);
    return hexString(std::string_view(reinterpret_cast<const char*>(out), length));
}

std::string digest(Algorithm algorithm, std::string_view data) {
    Hasher h(algorithm);
    h.update(data);
    return h.finish();
}

std::string md5(std::string_view data) { return digest(Algorithm::MD5, data); }
std::string sha1(std::string_view data) { return digest(Algorithm::SHA1, data); }
std::string sha256(std::string_view data) { return digest(Algorithm::SHA256, data); }

std::optional<std::string> digestOfFile(Algorithm algorithm, const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    Hasher h(algorithm);
    std::vector<char> buffer(1 << 16);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        h.update(std::string_view(buffer.data(), static_cast<size_t>(in.gcount())));
    }
    if (in.bad()) return std::nullopt;
    return h.finish();
}

std::optional<std::string> md5OfFile(const std::string& path) { return digestOfFile(Algorithm::MD5, path); }
std::optional<std::string> sha1OfFile(const std::string& path) { return digestOfFile(Algorithm::SHA1, path); }
std::optional<std::string> sha256OfFile(const std::string& path) { return digestOfFile(Algorithm::SHA256, path); }

std::string hexString(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::optional<std::string> dataFromHexString(std::string_view hex) {
    if (hex.size() % 2) return std::nullopt;
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = value(hex[i]), lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

}  // namespace DataHashes
