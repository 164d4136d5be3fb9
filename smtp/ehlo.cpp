// EHLO reply lines to extension keywords, the SIZE limit and the AUTH list.
#include "smtp/ehlo.h"

#include <cctype>
#include <cstdlib>

#include "support/text.h"

namespace vellor::smtp {
namespace {

// A line after the greeting line that lists an extension: "ddd-" or "ddd ".
bool listing(const ReplyLine &l) { return l.separator == '-' || l.separator == ' '; }

bool word_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }

// The first five characters of the text in upper case: "SIZE ", "AUTH=".
std::string head_of(const std::string &text) { return upper(text.substr(0, 5)); }

}  // namespace

std::set<std::string> ehlo_extensions(const Reply &reply) {
    std::set<std::string> out;
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        const ReplyLine &l = reply.lines[i];
        std::size_t n = 0;
        while (n < l.text.size() && word_char(l.text[n])) ++n;
        if (listing(l) && n > 0) out.insert(upper(l.text.substr(0, n)));
    }
    return out;
}

Offers ehlo_offers(const Reply &reply) {
    std::set<std::string> words = ehlo_extensions(reply);
    Offers o;
    o.pipelining = words.count("PIPELINING") != 0;
    o.chunking = words.count("CHUNKING") != 0;
    o.smtputf8 = words.count("SMTPUTF8") != 0;
    o.eight_bit = words.count("8BITMIME") != 0;
    o.size = words.count("SIZE") != 0;
    o.dsn = words.count("DSN") != 0;
    for (std::size_t at = 1; o.size && at < reply.lines.size(); ++at) {  // the last stated limit counts
        const std::string &t = reply.lines[at].text;
        if (head_of(t) == "SIZE " && t.size() > 5 && std::isdigit(static_cast<unsigned char>(t[5])))
            o.size_limit = std::strtoull(t.c_str() + 5, nullptr, 10);
    }
    return o;
}

std::vector<std::string> ehlo_auth_mechanisms(const Reply &reply) {
    std::vector<std::string> out;
    for (std::size_t i = 1; i < reply.lines.size(); ++i) {
        const ReplyLine &l = reply.lines[i];
        std::string head = head_of(l.text);
        if (!listing(l) || (head != "AUTH " && head != "AUTH=")) continue;
        std::string word;
        for (std::size_t k = 5; k <= l.text.size(); ++k) {
            char c = k < l.text.size() ? l.text[k] : ' ';
            if (word_char(c) || c == '_') {
                word += c;
                continue;
            }
            if (!word.empty()) out.push_back(upper(word));
            word.clear();
        }
    }
    return out;
}

}  // namespace vellor::smtp
