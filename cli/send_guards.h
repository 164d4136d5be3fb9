// The tool's guards around the library's traps, checked before anything is
// sent: a message path is a file or a queue directory by what it is on
// disk (the library decides by whether the path holds the extension text);
// missing and unreadable paths are refused; an --envelope queue must have
// an envelope for every message; a message from a file or standard input
// gets CRLF line ends (dot-stuffing is the library's DotStuffing option).
#pragma once
#include <string>
#include <vector>

namespace cli {

enum class PathKind { Missing, Unreadable, File, Directory };
PathKind path_kind(const std::string &path);

// The queue's message files of an extension ("*.EXT", any case, regular
// files only), in name order.
std::vector<std::string> queued_files(const std::string &dir, const std::string &extension);
// The other regular files of the queue (neither of the extension nor an
// envelope), for a hint when none of the extension is there.
std::vector<std::string> other_files(const std::string &dir, const std::string &extension);
// Those of them without an envelope (name up to its last '.', then ".ENV").
std::vector<std::string> without_envelope(const std::string &dir, const std::vector<std::string> &files);

// Bare LF line ends become CR LF; CR LF stays.
std::string with_crlf(const std::string &text);

// An extension that makes the library take `file` for a file: its own
// extension (the envelope is found by it), else the end of its name.
std::string file_extension_for(const std::string &file);

// Text comparisons without regard to ASCII letter case.
bool equal_nocase(const std::string &a, const std::string &b);
bool contains_nocase(const std::string &text, const std::string &part);
// A dotted IPv4 address ("a.b.c.d", each part 0 to 255).
bool is_dotted_ipv4(const std::string &text);

// A warning when the options file exists but cannot be read or is not a
// registry export the library can use (the library then quietly uses its
// defaults); empty when all is well.
std::string registry_warning();

}  // namespace cli
