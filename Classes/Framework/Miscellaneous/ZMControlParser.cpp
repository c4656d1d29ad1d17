#include "Miscellaneous/ZMControlParser.h"

#include <cstring>

namespace {

inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Whether the text after the last '\n' (the line being read) is blank so far.
bool tailIsBlank(std::string_view text) {
    for (size_t i = text.size(); i > 0; --i) {
        const char c = text[i - 1];
        if (c == '\n') return true;
        if (!isBlank(c)) return false;
    }
    return true;
}

}  // namespace

// ---- ZMControlStanza --------------------------------------------------------

std::optional<std::string_view> ZMControlStanza::field(std::string_view name) const {
    for (const ZMControlField& f : fields_)
        if (ZMControlParser::namesEqual(f.name, name)) return f.value;
    return std::nullopt;
}

ZMOwnedControlStanza ZMControlStanza::toOwned() const {
    ZMOwnedControlStanza owned;
    for (const ZMControlField& f : fields_) owned.append(f.name, f.value);
    return owned;
}

ZMOwnedControlStanza ZMControlStanza::toOwned(const std::vector<std::string_view>& names) const {
    ZMOwnedControlStanza owned;
    for (const ZMControlField& f : fields_)
        for (std::string_view n : names)
            if (ZMControlParser::namesEqual(f.name, n)) {
                owned.append(f.name, f.value);
                break;
            }
    return owned;
}

// ---- ZMOwnedControlStanza ---------------------------------------------------

void ZMOwnedControlStanza::append(std::string_view name, std::string_view value) {
    Entry e{storage_.size(), name.size(), storage_.size() + name.size(), value.size()};
    storage_.append(name);
    storage_.append(value);
    entries_.push_back(e);
}

ZMControlField ZMOwnedControlStanza::fieldAt(size_t index) const {
    const Entry& e = entries_.at(index);
    const std::string_view s = storage_;
    return ZMControlField{s.substr(e.nameOffset, e.nameLength), s.substr(e.valueOffset, e.valueLength)};
}

std::optional<std::string_view> ZMOwnedControlStanza::field(std::string_view name) const {
    for (size_t i = 0; i < entries_.size(); ++i) {
        const ZMControlField f = fieldAt(i);
        if (ZMControlParser::namesEqual(f.name, name)) return f.value;
    }
    return std::nullopt;
}

std::vector<ZMControlField> ZMOwnedControlStanza::fields() const {
    std::vector<ZMControlField> out;
    out.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) out.push_back(fieldAt(i));
    return out;
}

std::string ZMOwnedControlStanza::serialized() const {
    std::string out;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const ZMControlField f = fieldAt(i);
        out.append(f.name);
        out.push_back(':');
        if (!f.value.empty() && f.value.front() != '\n') out.push_back(' ');
        out.append(f.value);
        out.push_back('\n');
    }
    return out;
}

// ---- ZMControlParser --------------------------------------------------------

bool ZMControlParser::namesEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && lower(a[i]) != lower(b[i])) return false;
    return true;
}

std::string_view ZMControlParser::firstLine(std::string_view value) {
    const size_t nl = value.find('\n');
    std::string_view line = value.substr(0, nl);
    while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
    return line;
}

ZMControlParser::ZMControlParser(Callback callback) : callback_(std::move(callback)) {}

size_t ZMControlParser::forEachStanza(std::string_view text, const Callback& callback) {
    ZMControlParser parser(callback);
    parser.parse(text, true);
    parser.finished_ = true;
    return parser.count_;
}

bool ZMControlParser::isStrictName(std::string_view name) {
    // Printable ASCII without blanks; "#" would start a comment, "-" is reserved.
    if (name.front() == '#' || name.front() == '-') return false;
    for (char c : name)
        if (c <= ' ' || c > '~') return false;
    return true;
}

bool ZMControlParser::seenBefore(std::string_view name) {
    // A cheap mark per name; only a name whose mark is already set is compared.
    const unsigned bit = (name.size() * 7u + static_cast<unsigned>(lower(name.front())) * 3u +
                          static_cast<unsigned>(lower(name.back()))) & 63u;
    const uint64_t mask = uint64_t{1} << bit;
    const bool maybe = namesSeen_ & mask;
    namesSeen_ |= mask;
    if (!maybe) return false;
    for (const ZMControlField& f : stanza_.fields_)
        if (namesEqual(f.name, name)) return true;
    return false;
}

bool ZMControlParser::deliverStanza(std::string_view raw) {
    std::vector<ZMControlField>& fields = stanza_.fields_;
    if (fields.empty()) return true;  // only comments
    // Multi-line values of CRLF text keep their "\r\n" in the buffer; give
    // those a cleaned copy. Reserve first so the views stay put.
    size_t needed = 0;
    for (size_t i = 0; i < fields.size(); ++i)
        if (crFields_[i] && std::memchr(fields[i].value.data(), '\r', fields[i].value.size())) needed += fields[i].value.size();
    if (needed) {
        scratch_.clear();
        scratch_.reserve(needed);
        for (size_t i = 0; i < fields.size(); ++i) {
            std::string_view v = fields[i].value;
            if (!crFields_[i] || !std::memchr(v.data(), '\r', v.size())) continue;
            const size_t start = scratch_.size();
            for (size_t k = 0; k < v.size(); ++k)
                if (!(v[k] == '\r' && k + 1 < v.size() && v[k + 1] == '\n')) scratch_.push_back(v[k]);
            fields[i].value = std::string_view(scratch_.data() + start, scratch_.size() - start);
        }
    }
    stanza_.raw_ = raw;
    ++count_;
    const bool more = callback_ ? callback_(stanza_) : true;
    if (!more) stopped_ = true;
    return more;
}

size_t ZMControlParser::parse(std::string_view text, bool atEnd) {
    const char* base = text.data();
    const size_t n = text.size();
    constexpr size_t none = std::string_view::npos;
    std::vector<ZMControlField>& fields = stanza_.fields_;
    fields.clear();
    crFields_.clear();
    size_t pos = 0, consumed = 0, stanzaStart = none;

    while (pos < n) {
        const void* nl = std::memchr(base + pos, '\n', n - pos);
        size_t lineEnd, next;
        if (nl) {
            lineEnd = static_cast<const char*>(nl) - base;
            next = lineEnd + 1;
        } else {
            if (!atEnd) break;  // wait for the rest of the line
            lineEnd = next = n;
        }
        size_t end = lineEnd;
        while (end > pos && isBlank(base[end - 1])) --end;

        if (end == pos) {  // blank line: closes the stanza
            if (stanzaStart != none) {
                const bool more = deliverStanza(text.substr(stanzaStart, pos - stanzaStart));
                fields.clear();
                crFields_.clear();
                stanzaStart = none;
                if (!more) return next;
            }
            pos = consumed = next;
            continue;
        }
        if (stanzaStart == none) {
            stanzaStart = pos;
            stanza_.strict_ = true;
            namesSeen_ = 0;
        }

        const char first = base[pos];
        if (first == ' ' || first == '\t') {
            if (!fields.empty()) {
                ZMControlField& f = fields.back();
                f.value = std::string_view(f.value.data(), base + end - f.value.data());
                crFields_.back() = 1;
            } else {
                stanza_.strict_ = false;
            }
        } else if (first != '#') {
            const void* colon = std::memchr(base + pos, ':', end - pos);
            if (colon) {
                const size_t c = static_cast<const char*>(colon) - base;
                size_t nameEnd = c;
                while (nameEnd > pos && (base[nameEnd - 1] == ' ' || base[nameEnd - 1] == '\t')) --nameEnd;
                if (nameEnd > pos) {
                    size_t v = c + 1;
                    while (v < end && (base[v] == ' ' || base[v] == '\t')) ++v;
                    const std::string_view name(base + pos, nameEnd - pos);
                    if (stanza_.strict_) stanza_.strict_ = nameEnd == c && isStrictName(name) && !seenBefore(name);
                    fields.push_back(ZMControlField{name, std::string_view(base + v, end - v)});
                    crFields_.push_back(0);
                } else {
                    stanza_.strict_ = false;
                }
            } else {
                stanza_.strict_ = false;
            }
        } else {
            stanza_.strict_ = false;
        }
        pos = next;
    }

    if (atEnd) {
        if (stanzaStart != none) deliverStanza(text.substr(stanzaStart, n - stanzaStart));
        fields.clear();
        crFields_.clear();
        return n;
    }
    fields.clear();
    crFields_.clear();
    return stanzaStart != none ? stanzaStart : consumed;
}

bool ZMControlParser::feed(std::string_view chunk) {
    if (stopped_ || finished_) return !stopped_;
    if (!pending_.empty()) {
        // Complete the held stanza with the piece's text up to its first blank line.
        bool blank = tailIsBlank(pending_);
        size_t cut = std::string_view::npos;
        for (size_t i = 0; i < chunk.size(); ++i) {
            const char c = chunk[i];
            if (c == '\n') {
                if (blank) {
                    cut = i + 1;
                    break;
                }
                blank = true;
            } else if (!isBlank(c)) {
                blank = false;
            }
        }
        if (cut == std::string_view::npos) {
            pending_.append(chunk);
            return true;
        }
        pending_.append(chunk.substr(0, cut));
        parse(pending_, true);
        pending_.clear();
        if (stopped_) return false;
        chunk.remove_prefix(cut);
    }
    const size_t used = parse(chunk, false);
    if (stopped_) return false;
    pending_.assign(chunk.substr(used));
    return true;
}

bool ZMControlParser::finish() {
    if (!stopped_ && !finished_ && !pending_.empty()) parse(pending_, true);
    pending_.clear();
    pending_.shrink_to_fit();
    finished_ = true;
    return !stopped_;
}
