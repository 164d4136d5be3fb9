// The capture server fixture; see capture_server.h.
#include "capture_server.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

namespace testenv {

CaptureServer::CaptureServer(const std::string &dir, const char *address, int port, const std::string &user,
                             const std::string &password) {
    static int serial = 0;
    root_ = dir + "/capture" + std::to_string(++serial);
    ::mkdir(root_.c_str(), 0755);
    port_ = port ? port : free_port(address);
    std::vector<std::string> argv = {"/usr/bin/python3", std::string(VELLOR_TEST_SERVERS_DIR) + "/capture_smtpd.py",
                                     address, std::to_string(port_), root_};
    if (!user.empty()) {
        argv.push_back(user);
        argv.push_back(password);
    }
    proc_ = Process(argv, root_ + "/server.log");
    ready_ = wait_until([&] { return file_exists(root_ + "/ready"); }, std::chrono::milliseconds(15000));
}

std::vector<std::string> maildir_files(const std::string &dir, bool json) {
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n[0] == '.') continue;
            bool is_json = n.size() > 5 && n.substr(n.size() - 5) == ".json";
            if (is_json == json) names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> out;
    for (const auto &n : names) out.push_back(read_file(dir + "/" + n));
    return out;
}

namespace {

int count_events(const std::string &path, const std::string &needle) {
    std::string all = read_file(path);
    int n = 0;
    for (std::size_t pos = 0; (pos = all.find(needle, pos)) != std::string::npos; pos += needle.size()) ++n;
    return n;
}
}  // namespace

std::vector<std::string> CaptureServer::messages() const { return maildir_files(root_ + "/Maildir/new", false); }
std::vector<std::string> CaptureServer::recipients() const { return maildir_files(root_ + "/Maildir/new", true); }
int CaptureServer::sessions() const { return count_events(root_ + "/events.jsonl", "\"event\": \"helo\""); }
int CaptureServer::logins(bool success) const {
    return count_events(root_ + "/events.jsonl", success ? "\"success\": true" : "\"success\": false");
}

}  // namespace testenv
