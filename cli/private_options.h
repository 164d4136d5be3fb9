// Options for one call of the tool, never by editing the user's options
// file: a private folder (mode 0700; also the call's working folder) holds a copy of the user's file with
// the tool's own values appended in a second Options section (later values
// win), and $VELLORAPI_REGISTRY points at it until this object goes.
#pragma once
#include <map>
#include <string>

namespace cli {

class PrivateOptions {
public:
    PrivateOptions() = default;
    PrivateOptions(const PrivateOptions &) = delete;
    PrivateOptions &operator=(const PrivateOptions &) = delete;
    ~PrivateOptions();

    // A value the user asked for (required) or one the tool sets for safety,
    // which is let go where the library cannot be given an options file.
    void number(const std::string &name, long value, bool required = true) {
        values_[name] = "dword:" + hex(value);
        if (required) ++required_;
    }
    void text(const std::string &name, const std::string &value);
    // Writes the file and points the library at it; false with a reason.
    bool apply(std::string &error);
    bool empty() const { return values_.empty(); }
    // The private folder (mode 0700), once applied.
    const std::string &folder() const { return dir_; }

private:
    static std::string hex(long value);
    std::map<std::string, std::string> values_;
    std::string dir_, old_registry_;
    bool had_registry_ = false, applied_ = false;
    int required_ = 0;
};

}  // namespace cli
