// The mail queue; see mail_queue.h.
#include "mail_queue.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <random>

#include "host_files.h"
#include "send_guards.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// "m" and the time in microseconds (names sort by age), then random and
// counted digits so that senders queueing at once never meet.
std::string unique_name() {
    static std::atomic<unsigned> count{0};
    std::random_device random;
    auto now =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch());
    std::ostringstream name;
    name << 'm' << std::hex << std::setfill('0') << std::setw(16) << now.count() << '-' << std::setw(8) << random()
         << std::setw(2) << (count++ & 0xffu);
    return name.str();
}

std::string envelope_of(const std::string &sender, const std::vector<std::string> &recipients) {
    std::string text = "MAIL FROM: <" + sender + ">\r\n";
    for (const std::string &r : recipients) text += "RCPT TO: <" + r + ">\r\n";
    return text;
}

// The address of a "MAIL FROM: <a>" or "RCPT TO: <a>" line.
std::string bracketed(const std::string &line) {
    std::size_t open = line.find('<'), close = line.rfind('>');
    return open == std::string::npos || close == std::string::npos || close < open
               ? ""
               : line.substr(open + 1, close - open - 1);
}

long long age_of(const fs::path &file) {
    std::error_code ec;
    auto written = fs::last_write_time(file, ec);
    if (ec) return 0;
    auto age = fs::file_time_type::clock::now() - written;
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(age).count());
}

fs::path envelope_path(const std::string &dir, const std::string &file) {
    return fs::path(dir) / (file.substr(0, file.rfind('.')) + ".ENV");
}

// Writes one file of a message under a temporary name, then renames it.
bool put_file(const fs::path &final, const std::string &text, std::string &error) {
    std::string name = ".";  // appended, not "." + a temporary: i686 g++ 12 warns wrongly on that form
    name += final.filename().string();
    name += ".part";
    std::string temporary = (final.parent_path() / name).string();
    if (!host::write_new_synced(temporary, text, error)) return false;
    if (host::rename_synced(temporary, final.string(), error)) return true;
    std::error_code ec;
    fs::remove(temporary, ec);
    return false;
}

bool write_report(const fs::path &failed, const QueuedMessage &m, long long max_age, std::string &error) {
    std::string to;
    for (const std::string &r : m.recipients) to += (to.empty() ? "" : ", ") + r;
    std::string text = "This message could not be delivered within " + age_text(max_age) +
                       " (queue_max_age) and was taken off the queue.\n"
                       "Sender: " +
                       m.sender + "\nRecipients: " + to + "\nWaited: " + age_text(m.age) +
                       "\nThe message and its envelope are beside this report.\n";
    fs::path report = failed / (m.file.substr(0, m.file.rfind('.')) + ".report");
    return put_file(report, text, error);
}

}  // namespace

bool enqueue(const std::string &dir, const std::string &sender, const std::vector<std::string> &recipients,
             const std::string &text, std::string &name, std::string &error) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    std::string base = unique_name();
    name = base + ".txt";
    if (!put_file(fs::path(dir) / (base + ".ENV"), envelope_of(sender, recipients), error)) return false;
    if (put_file(fs::path(dir) / name, text, error)) return true;
    fs::remove(fs::path(dir) / (base + ".ENV"), ec);
    return false;
}

std::vector<QueuedMessage> queued_messages(const std::string &dir) {
    std::vector<QueuedMessage> out;
    for (const std::string &file : queued_files(dir, "txt")) {
        QueuedMessage m{file, "", {}, age_of(fs::path(dir) / file)};
        std::ifstream env(envelope_path(dir, file), std::ios::binary);
        for (std::string line; std::getline(env, line) && line != "\r" && !line.empty();) {
            if (contains_nocase(line, "MAIL FROM:"))
                m.sender = bracketed(line);
            else if (contains_nocase(line, "RCPT TO:"))
                m.recipients.push_back(bracketed(line));
        }
        out.push_back(m);
    }
    std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.age > b.age; });
    return out;
}

std::vector<std::string> expire(const std::string &dir, long long max_age, std::string &error) {
    std::vector<std::string> moved;
    fs::path failed = fs::path(dir) / "failed";
    for (const QueuedMessage &m : queued_messages(dir)) {
        if (m.age <= max_age) continue;
        std::error_code ec;
        fs::create_directories(failed, ec);
        fs::path env = envelope_path(dir, m.file), env_name = env.filename();
        if (!write_report(failed, m, max_age, error) ||
            !host::rename_synced((fs::path(dir) / m.file).string(), (failed / m.file).string(), error))
            continue;
        if (fs::exists(env, ec)) host::rename_synced(env.string(), (failed / env_name).string(), error);
        moved.push_back(m.file);
    }
    return moved;
}

std::string age_text(long long seconds) {
    if (seconds >= 86400) {
        std::string text = std::to_string(seconds / 86400) + "d";
        if (seconds % 86400 >= 3600) text += std::string(" ").append(std::to_string(seconds % 86400 / 3600)) + "h";
        return text;
    }
    if (seconds >= 3600) return std::to_string(seconds / 3600) + "h";
    if (seconds >= 60) return std::to_string(seconds / 60) + "m";
    return std::to_string(seconds) + "s";
}

}  // namespace cli
