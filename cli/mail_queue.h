// The mail queue of an account: a folder of message files (NAME.txt, CR LF
// line ends) each with its envelope (NAME.ENV: "MAIL FROM: <sender>" and
// one "RCPT TO: <recipient>" line each), as `vellor send --envelope`
// sends them. A message goes in whole or not at all: each file is written
// under a temporary name the queue passes never pick, synced, then renamed,
// the envelope first. A message older than the account's queue_max_age goes
// to DIR/failed with a report beside it (NAME.report).
#pragma once
#include <string>
#include <vector>

namespace cli {

struct QueuedMessage {
    std::string file;  // NAME.txt
    std::string sender;
    std::vector<std::string> recipients;
    long long age = 0;  // seconds since it was queued
};

// Puts a message into the queue folder (made when missing); the message
// file's name in `name`, or false with the reason.
bool enqueue(const std::string &dir, const std::string &sender, const std::vector<std::string> &recipients,
             const std::string &text, std::string &name, std::string &error);
// The queued messages, oldest first.
std::vector<QueuedMessage> queued_messages(const std::string &dir);
// Moves the messages older than `max_age` seconds to DIR/failed, each with
// a report; the names moved (a message that cannot be moved stays queued,
// its reason in `error`).
std::vector<std::string> expire(const std::string &dir, long long max_age, std::string &error);
// "3d 4h", "12m", "40s".
std::string age_text(long long seconds);

}  // namespace cli
