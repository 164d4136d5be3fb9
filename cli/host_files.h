// The few file operations the accounts file and the mail queue need beyond
// the standard library, one implementation per platform (cli/posix,
// cli/win32): a new file written and synced to disk, a rename that is on
// disk when it returns, and whether others than its user may change a file.
#pragma once
#include <string>

namespace cli::host {

// Creates `path` (it must not exist; readable by its owner only), writes
// `text` and syncs it; false with the reason in `error`.
bool write_new_synced(const std::string &path, const std::string &text, std::string &error);
// Renames `from` over `to` and syncs the folder holding `to`.
bool rename_synced(const std::string &from, const std::string &to, std::string &error);
// Someone other than this user and the administrator may change the file:
// it belongs to another user, or its group or everyone may write it.
bool others_can_write(const std::string &path);

}  // namespace cli::host
