// The tool as the host's mail submission: `vellor sendmail` (also the
// binary run as "sendmail"), and the queue it leaves messages in when they
// cannot go now (`vellor queue list|flush`, also the binary run as "mailq").
#pragma once
#include <string>
#include <vector>

namespace cli {

// sendmail's command line (without the program name); the exit status.
int run_sendmail(const std::vector<std::string> &args);
// One line per queued message of the account's queue, or of every
// account's queue when `account` is empty.
int queue_list(const std::string &account);
// Sends the account's queue (every account's queue when empty): 0 when
// the queues are empty afterwards, 75 when messages remain.
int queue_flush(const std::string &account, int parallel, bool verbose);

}  // namespace cli
