// A message's header fields for the sendmail command; see message_headers.h.
#include "message_headers.h"

#include "send_guards.h"

namespace cli {
namespace {

struct Field {
    std::size_t begin, end;  // the whole field, its continuation lines and line end included
    std::string name, value;
};

// The header's fields, up to the empty line that ends it.
std::vector<Field> fields(const std::string &m) {
    std::vector<Field> out;
    std::size_t at = 0;
    while (at < m.size() && m[at] != '\n' && m.compare(at, 2, "\r\n") != 0) {
        std::size_t end = m.find('\n', at);
        end = end == std::string::npos ? m.size() : end + 1;
        bool continued = m[at] == ' ' || m[at] == '\t';
        std::string line = m.substr(at, end - at);
        if (continued && !out.empty()) {
            out.back().end = end;
            out.back().value += line;
        } else {
            std::size_t colon = line.find(':');
            std::string name = colon == std::string::npos ? "" : line.substr(0, colon);
            name.erase(name.find_last_not_of(" \t") + 1);  // "Bcc : x", the obsolete syntax, names Bcc too
            out.push_back({at, end, name, colon == std::string::npos ? "" : line.substr(colon + 1)});
        }
        at = end;
    }
    return out;
}

bool named(const Field &f, const std::vector<std::string> &names) {
    for (const std::string &n : names)
        if (equal_nocase(f.name, n)) return true;
    return false;
}

std::string trimmed(const std::string &text) {
    std::size_t from = text.find_first_not_of(" \t\r\n"), to = text.find_last_not_of(" \t\r\n");
    return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}

// One list entry: the text in angle brackets, else the entry without comments.
void add_address(const std::string &entry, std::vector<std::string> &out) {
    std::size_t open = entry.rfind('<'), close = entry.rfind('>');
    std::string address = open != std::string::npos && close > open ? entry.substr(open + 1, close - open - 1) : entry;
    address = trimmed(address);
    if (!address.empty()) out.push_back(address);
}

// Splits an address list at commas (and a group's ';') outside quotes, comments and angle brackets.
void split_list(const std::string &value, std::vector<std::string> &out) {
    std::string entry;
    bool quoted = false;
    int comment = 0, angle = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c == '\\' && i + 1 < value.size() && (quoted || comment)) {
            if (!comment) entry += value.substr(i, 2);
            ++i;
        } else if (quoted) {
            quoted = c != '"';
            entry += c;
        } else if (c == '(') {
            ++comment;
        } else if (c == ')' && comment) {
            --comment;
        } else if (comment) {
        } else if (c == '"') {
            quoted = true;
            entry += c;
        } else if (c == ':' && !angle) {
            entry.clear();  // a group's name
        } else if ((c == ',' || c == ';') && !angle) {
            add_address(entry, out);
            entry.clear();
        } else {
            angle += c == '<' ? 1 : c == '>' && angle ? -1 : 0;
            entry += c;
        }
    }
    add_address(entry, out);
}

}  // namespace

std::vector<std::string> header_addresses(const std::string &message, const std::vector<std::string> &names) {
    std::vector<std::string> out;
    for (const Field &f : fields(message))
        if (named(f, names)) split_list(f.value, out);
    return out;
}

std::vector<std::string> address_list(const std::string &text) {
    std::vector<std::string> out;
    split_list(text, out);
    return out;
}

std::string without_field(const std::string &message, const std::string &name) {
    std::string out = message;
    std::vector<Field> all = fields(message);
    for (auto f = all.rbegin(); f != all.rend(); ++f)
        if (equal_nocase(f->name, name)) out.erase(f->begin, f->end - f->begin);
    return out;
}

bool has_field(const std::string &message, const std::string &name) {
    for (const Field &f : fields(message))
        if (equal_nocase(f.name, name)) return true;
    return false;
}

}  // namespace cli
