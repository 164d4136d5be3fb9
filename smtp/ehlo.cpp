// EHLO reply lines to extension keywords.
#include "smtp/ehlo.h"

#include <cctype>
#include <cstdlib>

namespace vellor::smtp {

std::set<std::string> ehlo_extensions(const std::string &reply) {
    std::set<std::string> out;
    std::size_t pos = reply.find('\n');
    while (pos != std::string::npos && pos + 1 < reply.size()) {
        std::size_t start = pos + 1, end = reply.find('\n', start);
        std::string line = reply.substr(start, end == std::string::npos ? std::string::npos : end - start);
        pos = end;
        if (line.size() < 5 || (line[3] != '-' && line[3] != ' ')) continue;
        std::string word;
        for (std::size_t i = 4; i < line.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(line[i]);
            if (!std::isalnum(c) && c != '-') break;
            word += static_cast<char>(std::toupper(c));
        }
        if (!word.empty()) out.insert(word);
    }
    return out;
}

Offers ehlo_offers(const std::string &reply) {
    std::set<std::string> words = ehlo_extensions(reply);
    Offers o;
    o.pipelining = words.count("PIPELINING") != 0;
    o.chunking = words.count("CHUNKING") != 0;
    o.smtputf8 = words.count("SMTPUTF8") != 0;
    o.eight_bit = words.count("8BITMIME") != 0;
    o.size = words.count("SIZE") != 0;
    o.dsn = words.count("DSN") != 0;
    for (std::size_t at = reply.find('\n'); o.size && at != std::string::npos; at = reply.find('\n', at + 1)) {
        if (reply.size() < at + 10) break;
        std::string word = reply.substr(at + 5, 5);
        for (char &c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (word != "SIZE ") continue;
        const char *digits = reply.c_str() + at + 10;
        if (*digits >= '0' && *digits <= '9') o.size_limit = std::strtoull(digits, nullptr, 10);
    }
    return o;
}

}  // namespace vellor::smtp

namespace vellor::smtp {

std::vector<std::string> ehlo_auth_mechanisms(const std::string &reply) {
    std::vector<std::string> out;
    std::size_t start = reply.find('\n');
    while (start != std::string::npos && start + 1 < reply.size()) {
        std::size_t end = reply.find('\n', start + 1);
        std::string line = reply.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
        start = end;
        if (line.size() < 9 || (line[3] != '-' && line[3] != ' ')) continue;
        std::string head = line.substr(4, 5);
        for (char &c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (head != "AUTH " && head != "AUTH=") continue;
        std::string word;
        for (std::size_t i = 9; i <= line.size(); ++i) {
            unsigned char c = i < line.size() ? static_cast<unsigned char>(line[i]) : ' ';
            if (std::isalnum(c) || c == '-' || c == '_') {
                word += static_cast<char>(std::toupper(c));
                continue;
            }
            if (!word.empty()) out.push_back(word);
            word.clear();
        }
    }
    return out;
}

}  // namespace vellor::smtp
