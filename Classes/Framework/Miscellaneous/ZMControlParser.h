#pragma once
// Debian control stanzas (Packages and Release indexes, the dpkg status file).
//
// Format accepted:
// - "Name: value" lines; field names compare without regard to ASCII case.
// - Continuation lines start with a space or a tab and extend the previous
//   field. The value is the raw text: the first line without its leading
//   blanks, then every continuation line with its "\n" and its leading
//   whitespace (" ." paragraph lines stay as they are). When the first line is
//   empty ("SHA256:" then one line per file) the value starts with "\n".
//   Blanks at the very end of a value are dropped; inner lines stay exactly
//   as written, except that CRLF line ends read as "\n".
// - Stanzas are separated by lines that are empty or hold only spaces, tabs
//   and "\r". The last stanza needs no trailing newline.
// - Lines starting with '#' are comments. Lines without a colon, or with an
//   empty name, and continuation lines before any field are skipped.
// - A stanza is reported when it has at least one field; whether it has a
//   Package field is the caller's business. Duplicate fields: field() gives
//   the first, fields() lists them all.
// Any byte sequence (NUL bytes, binary garbage) is read without failing.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ZMControlField {
    std::string_view name;
    std::string_view value;
};

class ZMOwnedControlStanza;

// One stanza as views: into the parsed buffer, or (for multi-line values of a
// CRLF file, whose "\r" are removed) into storage of the parser. Valid only
// during the callback that receives it; keep a toOwned() copy beyond that.
class ZMControlStanza {
public:
    std::optional<std::string_view> field(std::string_view name) const;
    bool has(std::string_view name) const { return field(name).has_value(); }
    const std::vector<ZMControlField>& fields() const { return fields_; }  // in file order
    size_t size() const { return fields_.size(); }
    bool empty() const { return fields_.empty(); }
    std::string_view raw() const { return raw_; }  // the stanza's lines as read
    // Every line a field ("Name: value", the name printable ASCII without
    // blanks, not starting with "#" or "-", the colon right after it) or the
    // continuation of one, and no field name twice. apt reads only such a
    // stanza as we do: it takes the last of duplicate fields, reads "#" lines
    // and lines without a colon otherwise, and fails on some of them.
    bool isStrict() const { return strict_; }

    ZMOwnedControlStanza toOwned() const;
    // Only the named fields (in file order), e.g. to keep a few of a large stanza.
    ZMOwnedControlStanza toOwned(const std::vector<std::string_view>& names) const;

private:
    friend class ZMControlParser;
    std::vector<ZMControlField> fields_;
    std::string_view raw_;
    bool strict_ = true;
};

// A stanza that owns its text, for keeping.
class ZMOwnedControlStanza {
public:
    std::optional<std::string_view> field(std::string_view name) const;
    bool has(std::string_view name) const { return field(name).has_value(); }
    // Appends a field (no check for duplicates).
    void append(std::string_view name, std::string_view value);
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    ZMControlField fieldAt(size_t index) const;
    std::vector<ZMControlField> fields() const;  // in file order
    // Back to the text form ("Name: value\n" lines; values kept raw).
    std::string serialized() const;

private:
    struct Entry {
        size_t nameOffset, nameLength, valueOffset, valueLength;
    };
    std::string storage_;
    std::vector<Entry> entries_;
};

class ZMControlParser {
public:
    // Returns false from the callback to stop early.
    using Callback = std::function<bool(const ZMControlStanza&)>;

    // Every stanza of the text, in order. Returns the number of stanzas reported.
    static size_t forEachStanza(std::string_view text, const Callback& callback);

    // The first line of a value (the synopsis of a Description).
    static std::string_view firstLine(std::string_view value);
    // ASCII case-insensitive equality, as used for field names.
    static bool namesEqual(std::string_view a, std::string_view b);

    // Incremental form: feed() the text in pieces of any size (e.g. the output
    // of a decompressor), then finish(). Complete stanzas are parsed straight
    // from the piece given; only an unfinished stanza at the end of a piece is
    // copied and held until the rest of it arrives.
    explicit ZMControlParser(Callback callback);
    // Stanzas handed out point into the parser's own storage.
    ZMControlParser(const ZMControlParser&) = delete;
    ZMControlParser& operator=(const ZMControlParser&) = delete;
    // false once the callback asked to stop (further input is ignored).
    bool feed(std::string_view chunk);
    bool finish();
    size_t stanzaCount() const { return count_; }
    size_t pendingBytes() const { return pending_.size(); }  // held unfinished stanza

private:
    // Parses complete stanzas of text; when !atEnd, stops before a stanza not
    // yet closed by a blank line. Returns the bytes consumed.
    size_t parse(std::string_view text, bool atEnd);
    bool deliverStanza(std::string_view raw);
    static bool isStrictName(std::string_view name);
    bool seenBefore(std::string_view name);

    Callback callback_;
    ZMControlStanza stanza_;
    std::vector<unsigned char> crFields_;  // per field: a continuation line ended in "\r"
    std::string scratch_;
    std::string pending_;
    uint64_t namesSeen_ = 0;  // marks of the field names of the stanza being read
    size_t count_ = 0;
    bool stopped_ = false;
    bool finished_ = false;
};
