// EHLO reply lines to extension keywords.
#include "smtp/ehlo.h"

#include <cctype>

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

}  // namespace vellor::smtp
