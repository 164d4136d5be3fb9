// The recipient list: validation, sequential reading and picking by number.
// Decisions of this library:
//  - in the bracket form, a '<' followed by neither '>' nor a blank ends the
//    parse with a failure (the list is rejected), so the parse always ends;
//  - an entry longer than 511 characters, or whose address (the text after
//    its '<' in the bracket form) is longer than the 255 characters of the
//    fields it is copied into, fails validation: an address is never cut;
//  - a picked address without '@' leaves szServer empty;
//  - nRecipients is a 16-bit count: a list of more than 32767 entries fails
//    validation (code 912), never sent to its first 32767.
// The list text is read only within the block's GlobalSize, so a block
// without a NUL is never read past its end.
#include <algorithm>

#include "platform/global_memory.h"
#include "msgfiles/recipients.h"
#include "support/report.h"
#include "support/text.h"
#include "support/report_texts.h"

namespace vellor {
namespace {

constexpr std::size_t kMaxEntry = 511;
constexpr std::size_t kMaxAddress = sizeof(SMTPSEND_STRUCTURE{}.szRecipient) - 1;
constexpr int kMaxRecipients = 32767;  // nRecipients is 16 bits wide
constexpr std::size_t npos = std::string::npos;

bool entry_ok(const std::string &e) {
    std::size_t open = e.find('<');
    std::size_t address = open == npos ? e.size() : e.size() - open - 1;
    if (e.size() > kMaxEntry || address > kMaxAddress) return false;
    std::size_t at = e.find('@');
    if (at == npos || at == 0) return false;
    std::size_t dot = e.find('.', at + 1);
    if (dot == npos || dot == at + 1) return false;
    return dot + 1 < e.size();
}

enum class Step { Next, End, Bad };

// Checks one entry; counts it when good.
Step take(const std::string &entry, int &count) {
    if (!entry_ok(entry)) return Step::Bad;
    ++count;
    return Step::Next;
}

// The rest of the text as the last entry: 4 characters or fewer is no entry.
Step last_entry(const std::string &rest, int &count) {
    if (rest.size() <= 4) return Step::End;
    return take(rest, count) == Step::Bad ? Step::Bad : Step::End;
}

Step plain_step(const std::string &t, std::size_t &pos, int &count) {
    std::size_t blank = t.find(' ', pos);
    if (blank == npos) return last_entry(t.substr(pos), count);
    std::string entry = t.substr(pos, blank - pos);
    pos = blank + 1;
    return take(entry, count);
}

Step bracket_step(const std::string &t, std::size_t &pos, int &count) {
    std::size_t open = t.find('<', pos);
    if (open == npos) open = t.find(' ', pos);
    if (open == npos) return last_entry(t.substr(pos), count);
    std::size_t close = t.find('>', open + 1);
    if (close == npos) close = t.find(' ', open + 1);
    if (close == npos) return Step::Bad;  // unclosed '<': the list is rejected
    std::string entry = t.substr(pos, close - pos);
    pos = close + 1;
    return take(entry, count);
}

}  // namespace

std::string list_text(HGLOBAL block, const void *locked) {
    if (!locked) return {};
    std::size_t size = GlobalSize(block);
    const char *p = static_cast<const char *>(locked);
    return std::string(p, ::strnlen(p, size));
}

std::string read_locked_list(SMTPSEND_STRUCTURE *request) {
    request->lpRecipients = GlobalLock(request->hRecipients);
    std::string text = list_text(request->hRecipients, request->lpRecipients);
    GlobalUnlock(request->hRecipients);
    return text;
}

int parse_recipient_list(const std::string &, const std::string &listText, int &count) {
    std::size_t pos = listText.find_first_not_of(' ');
    if (pos == npos) pos = listText.size();
    count = 0;
    int result = 0;
    bool bracket = listText.find_first_of("<>", pos) != npos;
    for (;;) {
        Step s = bracket ? bracket_step(listText, pos, count) : plain_step(listText, pos, count);
        if (s == Step::Next) continue;
        if (s == Step::Bad) result = -1;
        break;
    }
    return count >= 1 ? result : -1;
}

int validate_recipient_list(SMTPSEND_STRUCTURE *request, const Reporter &r) {
    const char *app = r.app.c_str();
    request->lpRecipients = GlobalLock(request->hRecipients);
    if (!request->lpRecipients) {
        r.report(Where::log, 0, 0, format(texts::kListUnlocked, app));
        r.report(Where::log, 0, 0, format(texts::kListAborted, app));
        return 0;
    }
    int count = 0;
    int rc = parse_recipient_list(r.app, list_text(request->hRecipients, request->lpRecipients), count);
    if (count >= 1)
        r.report(Where::log, 0, 0, format(texts::kListValid, app, count));
    else
        r.report(Where::log, 0, 0, format(texts::kListNoneValid, app));
    if (rc == -1) {
        r.report(Where::log, 0, 0, format(texts::kListInvalid, app));
        r.report(Where::log, 0, 0, format(texts::kListAborted, app));
        GlobalUnlock(request->hRecipients);
        request->nErrorCode = 912;
        return 0;
    }
    if (count > kMaxRecipients) {
        r.report(Where::log, 0, 0, format(texts::kListTooMany, app, kMaxRecipients));
        GlobalUnlock(request->hRecipients);
        request->nErrorCode = 912;
        return 0;
    }
    r.report(Where::log, 0, 0, count == 1 ? std::string(texts::kValidatedOne) : format(texts::kValidatedCount, count));
    request->nRecipients = static_cast<int16_t>(count);
    GlobalUnlock(request->hRecipients);
    return 1;
}

void next_recipient(HGLOBAL recipients, std::string &address, uint32_t &offset) {
    address.clear();
    void *p = GlobalLock(recipients);
    if (!p) return;
    std::string t = list_text(recipients, p);
    if (offset > t.size() || t.size() - offset < 5) {
        GlobalUnlock(recipients);
        return;
    }
    std::size_t pos = offset;
    std::size_t open = t.find('<', pos);
    if (open != npos) {
        std::size_t close = t.find('>', open + 1);
        if (close != npos) {
            address = t.substr(open + 1, close - open - 1);
            offset = static_cast<uint32_t>(close + 1);
        }
    } else if (std::size_t blank = t.find(' ', pos); blank != npos) {
        address = t.substr(pos, blank - pos);
        offset = static_cast<uint32_t>(blank + 1);
    } else {
        address = t.substr(pos);
        offset = static_cast<uint32_t>(t.size());
    }
    GlobalUnlock(recipients);
}

int select_recipient(SMTPSEND_STRUCTURE *request, int n) {
    request->lpRecipients = GlobalLock(request->hRecipients);
    if (!request->lpRecipients) {
        request->nErrorCode = 914;
        return -1;
    }
    std::string t = list_text(request->hRecipients, request->lpRecipients);
    std::size_t pos = 0;
    bool found = false;
    std::string address;
    for (int i = 1; i <= n && !found; ++i) {
        std::size_t open = t.find('<', pos);
        if (open != npos) {
            std::size_t close = t.find('>', open + 1);
            if (close == npos) continue;  // the position stays; the round ends
            if (i == n) {
                address = t.substr(open + 1, close - open - 1);
                found = true;
            } else {
                pos = close + 1;
            }
            continue;
        }
        std::size_t blank = t.find(' ', pos);
        if (blank == npos) {
            address = t.substr(pos);
            found = true;
        } else if (i == n) {
            address = t.substr(pos, blank - pos);
            found = true;
        } else {
            pos = blank + 1;
        }
    }
    if (!found) {
        GlobalUnlock(request->hRecipients);
        request->nErrorCode = 903;
        return -1;
    }
    GlobalUnlock(request->hRecipients);
    if (!set_field(request->szRecipient, address)) {  // never cut: the caller fails the call
        request->nErrorCode = 912;
        return -1;
    }
    (void)set_field(request->szServer, domain_of(address));  // part of the recipient: fits
    return 0;
}

std::vector<std::string> rcpt_entries(const std::string &text, int count) {
    std::vector<std::string> out;
    std::size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        std::size_t blank = pos <= text.size() ? text.find(' ', pos) : npos;
        std::string entry = pos <= text.size() ? text.substr(pos, blank == npos ? npos : blank - pos) : "";
        out.push_back(entry);
        pos = blank == npos ? text.size() + 1 : blank + 1;
    }
    return out;
}

std::string bracket_cut(const std::string &text) {
    std::size_t open = text.find('<'), close = text.find('>', open == npos ? 0 : open);
    return open != npos && close != npos ? text.substr(open + 1, close - open - 1) : text;
}

}  // namespace vellor
