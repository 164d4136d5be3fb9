// Text helpers for the record's fixed-size fields: every field is read with
// its size as the bound (an application may hand in a field without a NUL),
// and every write goes through the one checked copy, set_field: a value is
// written whole or not at all, never cut to fit. Also the printf-style
// formatting of report texts and the case-insensitive substring search.
#pragma once
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "common/text_fill.h"

namespace vellor {

// The text of a fixed-size field, up to its first NUL or its size.
template <std::size_t N>
std::string field_text(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}
// The same as a view into the field, where no copy is needed.
template <std::size_t N>
std::string_view field_view(const char (&field)[N]) {
    return std::string_view(field, ::strnlen(field, N));
}
// A caller's C string; empty for null.
inline std::string text_or_empty(const char *s) { return s ? std::string(s) : std::string(); }

template <std::size_t N>
bool empty(const char (&field)[N]) {
    return field[0] == '\0';
}

// The one checked copy into a fixed field: the whole text and a NUL, true.
// A text longer than N-1 characters, or holding a NUL (which would cut it
// at the next read), is never cut to fit: the field is left empty and the
// result is false, for the caller to fail its call with that field's code.
[[nodiscard]] bool set_field(char *field, std::size_t size, std::string_view text);
template <std::size_t N>
[[nodiscard]] bool set_field(char (&field)[N], std::string_view text) {
    return set_field(field, N, text);
}
// A field's text into a field at least as large: it fits by construction.
template <std::size_t D, std::size_t S>
void copy_field(char (&to)[D], const char (&from)[S]) {
    static_assert(D >= S, "the target field must hold every text of the source field");
    (void)set_field(to, D, field_view(from));
}

// printf into a std::string, cut at 1023 characters like the library's
// 1024-byte text buffers.
std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// fill (common/text_fill.h): the pattern with each "%s" replaced by the next
// value in order, never cut (format cuts): for report texts quoting what a
// server or option may make long.

// Case-insensitive substring search: position of pattern in text, or npos.
std::size_t find_text_nocase(const std::string &text, const std::string &pattern);

std::string upper(std::string s);
// True when the text holds no CR and no LF, so it can stand in one command line.
inline bool one_line_text(std::string_view s) {
    return s.empty() || (!std::memchr(s.data(), '\r', s.size()) && !std::memchr(s.data(), '\n', s.size()));
}
bool equal_nocase(const std::string &a, const std::string &b);
// True when the text holds a byte of 8 bits.
inline bool holds_8bit(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return true;
    return false;
}
// True when the text is well-formed UTF-8 (RFC 3629: no stray or truncated
// sequence, no overlong form, no surrogate, nothing above U+10FFFF) and
// holds no C1 control (U+0080 to U+009F).
bool clean_utf8(std::string_view s);

}  // namespace vellor
