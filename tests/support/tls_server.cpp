// The TLS server fixture; see tls_server.h.
#include "tls_server.h"

#include <arpa/inet.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

namespace testenv {

std::string make_certificates(const std::string &dir) {
    std::string certs = dir + "/certs";
    if (file_exists(certs + "/self.pem")) return certs;
    ::mkdir(certs.c_str(), 0700);
    std::string cmd = "timeout 60 bash " + std::string(VELLOR_TEST_SERVERS_DIR) + "/make_certs.sh '" + certs + "'";
    return std::system(cmd.c_str()) == 0 ? certs : std::string();
}

namespace {
bool accepts(int port) {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}
}  // namespace

TlsServer::TlsServer(const std::string &dir, Kind kind, const std::string &mode, const std::string &certs,
                     const std::string &cert_name, int port, const std::string &user, const std::string &password,
                     const std::string &host) {
    static int serial = 0;
    root_ = dir + "/tls" + std::to_string(++serial);
    ::mkdir(root_.c_str(), 0755);
    std::string servers = VELLOR_TEST_SERVERS_DIR, at = std::to_string(port);
    std::string pem = certs + "/" + cert_name + ".pem", key = certs + "/" + cert_name + ".key";
    std::vector<std::string> argv;
    if (kind == Kind::Aiosmtpd) {
        argv = {"/usr/bin/python3", servers + "/capture_smtpd.py", host, at, root_, user, password};
        argv.insert(argv.end(), {"--tls", mode, pem, key});
    } else if (kind == Kind::Node) {
        argv = {"/usr/bin/node", servers + "/node/tls_smtpd.js", host, at, root_, pem, key, mode, user, password};
    } else {
        const passwd *me = ::getpwuid(::geteuid());  // its user, asked for when it runs as root
        argv = {"/usr/sbin/smtp-sink", "-u", me ? me->pw_name : "nobody", "-d", root_ + "/Maildir/new/%Y%m%d%H%M%S."};
        if (mode != "all") argv.push_back(mode);
        argv.insert(argv.end(), {"127.0.0.1:" + at, "10"});
    }
    proc_ = Process(argv, root_ + "/server.log");
    ready_ = wait_until([&] { return kind == Kind::Sink ? accepts(port) : file_exists(root_ + "/ready"); },
                        std::chrono::milliseconds(15000));
}

std::string tlsa_data(const std::string &pem, int selector, int matching) {
    std::string der = selector == 0
                          ? "openssl x509 -in '" + pem + "' -outform DER"
                          : "openssl x509 -in '" + pem + "' -pubkey -noout | openssl pkey -pubin -outform DER";
    std::string digest = matching == 1   ? " | openssl dgst -sha256 -binary"
                         : matching == 2 ? " | openssl dgst -sha512 -binary"
                                         : "";
    std::string out;
    if (FILE *p = ::popen(("timeout 20 sh -c \"" + der + digest + "\"").c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
        if (::pclose(p) != 0) out.clear();
    }
    return out;
}

PolicyServer::PolicyServer(const std::string &dir, const std::string &certs, const std::string &text, int port) {
    std::string root = dir + "/policy";
    ::mkdir(root.c_str(), 0755);
    write_file(root + "/mta-sts.txt", text);
    proc_ = Process({"/usr/bin/python3", std::string(VELLOR_TEST_SERVERS_DIR) + "/policy_https.py",
                     std::to_string(port), certs + "/mta-sts.pem", certs + "/mta-sts.key", root + "/mta-sts.txt", root},
                    root + "/server.log");
    ready_ = wait_until([&] { return file_exists(root + "/ready"); }, std::chrono::milliseconds(15000));
}

// The messages of the server's Maildir, in name (arrival) order.
std::vector<std::string> TlsServer::messages() const {
    std::vector<std::string> names, out;
    std::error_code none;
    for (const auto &e : std::filesystem::directory_iterator(root_ + "/Maildir/new", none))
        if (e.path().extension() != ".json") names.push_back(e.path());
    std::sort(names.begin(), names.end());
    for (const auto &n : names) out.push_back(read_file(n));
    return out;
}

// How often the server noted the command verb.
int TlsServer::count(const std::string &verb) const {
    std::istringstream in(read_file(root_ + "/commands.txt"));
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == verb;
    return n;
}

}  // namespace testenv
