// The call's private working folder (mode 0700, only this user can enter
// it): the library runs from it, and a queue directory whose path the
// library would take for a file is handed over through a link in it. It
// and what the tool put in it go when this object goes.
#pragma once
#include <string>

namespace cli {

class PrivateFolder {
public:
    PrivateFolder() = default;
    PrivateFolder(const PrivateFolder &) = delete;
    PrivateFolder &operator=(const PrivateFolder &) = delete;
    ~PrivateFolder();
    // Makes the folder; false when it cannot be made.
    bool make();
    const std::string &path() const { return dir_; }

private:
    std::string dir_;
};

}  // namespace cli
