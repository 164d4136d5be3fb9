// How the tool shows the library's status reports: one line per report
// (failures and deliveries marked), a progress bar on a terminal for the
// percent reports, or one JSON object per report for scripts.
#pragma once
#include <string>

#include "vellorapi.h"

namespace cli {

enum class Output { Lines, Quiet, Json };

void set_output(Output mode, bool verbose);
int32_t VELLOR_CALLBACK print_report(SMTPSEND_STRUCTURE *request, int32_t status, const char *text, int32_t code);
std::string json_string(const std::string &text);
void finish_progress();

}  // namespace cli
