// Recipient addresses and the recipient list text held in hRecipients, for
// the delivery procedures and the SMTP session alike: the address check,
// the list validation with its parser, the sequential reader, the pick of
// the n-th entry, the split into RCPT TO addresses and the bracket cut. The list is in bracket form when its text
// (after leading blanks) holds a '<' or '>' anywhere, else in plain form
// (addresses separated by single blanks).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "support/report.h"
#include "vellorapi.h"

namespace vellor {

// 1 valid, 0 invalid.
int is_valid_address(const std::string &address, const std::string &applicationName);

// 0 or -1; count receives the number of good entries.
int parse_recipient_list(const std::string &applicationName, const std::string &listText, int &count);

// 1 success (nRecipients set), 0 failure; the lines of the check go to the
// send's log through `r`.
int validate_recipient_list(SMTPSEND_STRUCTURE *request, const Reporter &r);

// The next address of the list, empty when exhausted; offset moves on.
void next_recipient(HGLOBAL recipients, std::string &address, uint32_t &offset);

// Recipient n (from 1) into szRecipient and its domain into szServer.
// 0 found; -1 with nErrorCode 914 (lock failed), 903 (not found) or 912
// (longer than szRecipient: never cut).
int select_recipient(SMTPSEND_STRUCTURE *request, int n);

// The list text of a locked block, read within the block's size.
std::string list_text(HGLOBAL block, const void *locked);

// The whole list text: locks hRecipients (the pointer kept in lpRecipients),
// reads it within the block's size, unlocks it. Empty when the lock fails.
std::string read_locked_list(SMTPSEND_STRUCTURE *request);

// The first `count` blank-separated entries of the list text, as the
// session names them in RCPT TO (an entry past the text's end is empty).
std::vector<std::string> rcpt_entries(const std::string &text, int count);

// The address between '<' and '>' when the text holds both, else the text.
std::string bracket_cut(const std::string &text);

// The text after the first '@' of an address (empty without one).
std::string domain_of(const std::string &address);

}  // namespace vellor
