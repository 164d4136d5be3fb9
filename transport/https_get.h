// One HTTPS GET over the library's own connection (the companion's socket,
// the build's TLS session): for MTA-STS policies, so the fetch takes the
// same trust (the system's store plus TLSCAFile), the same time-out and the
// same way to the network as a delivery, on Linux and Windows alike. The
// request is HTTP/1.0 with a Host field, so the answer is never chunked;
// only "200" is taken (a redirect is refused), with a body of at most
// `most` bytes; the whole fetch ends within one deadline.
#pragma once
#include <cstddef>
#include <string>

#include "transport/connection.h"

namespace vellor::transport {

struct HttpsAnswer {
    bool ok = false;
    std::string content_type;  // the Content-Type field's value, lower case
    std::string body;
    std::string why;  // not ok: the reason
};

// GET https://host:port/path, the certificate checked against `host` with
// the trust store and the extra anchors of `ca_file` (may be empty), over a
// connection of its own over the companion of `via` (the send's).
HttpsAnswer https_get(Connection &via, const std::string &host, int port, const std::string &path,
                      const std::string &ca_file, std::size_t most);

}  // namespace vellor::transport
