// What the sendmail command reads and changes in a message's header: the
// addresses of To, Cc and Bcc (for -t), a header taken out (Bcc) and one
// put in front (From, Date). The header ends at the first empty line; a
// field continues on lines that begin with a blank. Line ends may be LF or
// CR LF and are kept as they are.
#pragma once
#include <string>
#include <vector>

namespace cli {

// The addresses of every field with one of `names` (letter case aside), in
// order: "Name <a@b>", plain "a@b", lists split at commas outside quotes,
// comments and angle brackets, groups ("team: a@b, c@d;") opened.
std::vector<std::string> header_addresses(const std::string &message, const std::vector<std::string> &names);
// The addresses of one list as a field would hold it ("a@b, Name <c@d>").
std::vector<std::string> address_list(const std::string &text);
// The message without every field called `name`, continuation lines included.
std::string without_field(const std::string &message, const std::string &name);
// The message holds a field called `name`.
bool has_field(const std::string &message, const std::string &name);

}  // namespace cli
