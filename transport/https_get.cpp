// The HTTPS GET; see https_get.h.
#include "transport/https_get.h"

#include <cctype>

#include "common/text_fill.h"
#include "transport/companion.h"
#include "transport/connection.h"
#include "transport/transport_texts.h"

namespace vellor::transport {
namespace {

constexpr std::size_t kMostHeader = 16384;

HttpsAnswer failure(const std::string &why) {
    HttpsAnswer a;
    a.why = why;
    return a;
}

std::string lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The answer read to its end, the connection's close: false when it grows
// past the header's and body's bounds, or the deadline passes first.
bool read_answer(Connection &conn, std::size_t most, std::string &raw, std::string &why) {
    Deadline deadline = conn.step_deadline();  // one time-out for the whole answer
    char buf[4096];
    for (;;) {
        int n = conn.receive(buf, sizeof buf, deadline);
        if (n == 0) return true;
        if (n < 0) {
            why = conn.last_error() == kTimedOut ? texts::kNoWholeAnswer : texts::kConnectionFailed;
            return false;
        }
        raw.append(buf, static_cast<std::size_t>(n));
        if (raw.size() > most + kMostHeader) {
            why = fill(texts::kAnswerTooLarge, {std::to_string(most)});
            return false;
        }
    }
}

HttpsAnswer parse(const std::string &raw, std::size_t most) {
    std::size_t end = raw.find("\r\n\r\n");
    std::size_t skip = 4;
    if (end == std::string::npos) end = raw.find("\n\n"), skip = 2;
    if (end == std::string::npos) return failure(texts::kNoHeaderEnd);
    std::string head = raw.substr(0, end), status = head.substr(0, head.find('\n'));
    if (status.compare(0, 5, "HTTP/") != 0 || status.size() < 12 || status.compare(9, 3, "200") != 0)
        return failure(fill(texts::kServerAnswered, {status.substr(0, status.find_last_not_of("\r") + 1)}));
    HttpsAnswer a;
    std::string fields = lower(head);
    std::size_t at = fields.find("\ncontent-type:");
    if (at != std::string::npos) {
        std::size_t from = fields.find_first_not_of(" \t", at + 14), to = fields.find_first_of("\r\n", at + 1);
        a.content_type = fields.substr(from, to == std::string::npos ? to : to - from);
    }
    a.body = raw.substr(end + skip);
    if (a.body.size() > most) return failure(fill(texts::kBodyTooLarge, {std::to_string(most)}));
    a.ok = true;
    return a;
}

}  // namespace

HttpsAnswer https_get(Connection &via, const std::string &host, int port, const std::string &path,
                      const std::string &ca_file, std::size_t most) {
    Connection conn;
    conn.share_companion(via);
    std::string address;
    if (!conn.resolve_host(host, address)) return failure(fill(texts::kNoAddress, {host}));
    if (!conn.set_target(address, port) || !conn.connect(0))
        return failure(fill(texts::kNoConnectionTo, {address, std::to_string(port)}));
    TlsPeer peer;
    peer.name = host;
    peer.ca_file = ca_file;
    std::string why, raw;
    HttpsAnswer a;
    if (!conn.start_tls(peer, why)) {
        a = failure(fill(texts::kTlsWithFailed, {host, why}));
    } else {
        std::string request = "GET " + path + " HTTP/1.0\r\nHost: " + host + "\r\nUser-Agent: vellorapi\r\n\r\n";
        bool sent = conn.send(request.data(), request.size(), false) == static_cast<int>(request.size());
        if (!sent)
            a = failure(texts::kRequestNotSent);
        else
            a = read_answer(conn, most, raw, why) ? parse(raw, most) : failure(why);
    }
    conn.close_socket();
    return a;
}

}  // namespace vellor::transport
