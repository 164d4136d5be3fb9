// The tool's private working folder; see private_folder.h.
#include "private_folder.h"

#include <filesystem>

#include "system.h"

namespace cli {

bool PrivateFolder::make() { return sys::make_private_folder(dir_); }

PrivateFolder::~PrivateFolder() {
    if (dir_.empty()) return;
    std::error_code ec;
    std::filesystem::remove(dir_ + sys::kSeparator + "queue", ec);
    std::filesystem::remove(dir_, ec);
}

}  // namespace cli
