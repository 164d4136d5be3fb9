// File operations of the accounts file and the mail queue on Windows; see
// host_files.h. Who may change a file is left to its access list there.
#include "host_files.h"

#include <windows.h>

namespace cli::host {
namespace {

std::wstring wide(const std::string &text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, out.data(), n);
    out.resize(out.size() - 1);
    return out;
}

bool fail(const std::string &what, const std::string &path, std::string &error) {
    error = what + " " + path + " (system error " + std::to_string(GetLastError()) + ")";
    return false;
}

}  // namespace

bool write_new_synced(const std::string &path, const std::string &text, std::string &error) {
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return fail("cannot create", path, error);
    DWORD written = 0;
    bool ok = text.size() <= MAXDWORD &&
              WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size() &&
              FlushFileBuffers(h);
    if (!ok) fail("cannot write", path, error);
    CloseHandle(h);
    if (!ok) DeleteFileW(wide(path).c_str());
    return ok;
}

bool rename_synced(const std::string &from, const std::string &to, std::string &error) {
    if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    return fail("cannot rename " + from + " to", to, error);
}

bool others_can_write(const std::string &) { return false; }

}  // namespace cli::host
