// The addresses a send dials; see address_choice.h.
#include "resolve/address_choice.h"

#include "transport/companion.h"

namespace vellor::resolve {
namespace {

using options::Family;

void split(const std::vector<std::string> &found, std::vector<std::string> &v4, std::vector<std::string> &v6) {
    for (const std::string &a : found) (transport::family_of(a) == 6 ? v6 : v4).push_back(a);
}

// The exchanger's own attempts for "auto", "6" or "any", at most `budget` addresses.
void host_attempts(const std::string &host, Family family, std::size_t &budget, std::vector<Attempt> &out) {
    std::vector<std::string> found, v4, v6;
    if (!transport::host_addresses(host, family == Family::Any ? KORVEX_FAMILY_BOTH : KORVEX_FAMILY_IPV6, found))
        return;
    split(found, v4, v6);
    std::vector<std::string> order = family == Family::Any ? interleaved(v4, v6) : v6;
    if (order.size() > budget) order.resize(budget);
    budget -= order.size();
    if (family == Family::Any && !order.empty()) out.push_back({order, kStaggerMs, host});
    if (family != Family::Any)
        for (const std::string &a : order) out.push_back({{a}, 0, host});
}

}  // namespace

std::vector<std::string> interleaved(const std::vector<std::string> &v4, const std::vector<std::string> &v6) {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < v4.size() || i < v6.size(); ++i) {
        if (i < v6.size()) out.push_back(v6[i]);
        if (i < v4.size()) out.push_back(v4[i]);
    }
    return out;
}

bool name_attempt(const std::string &name, Family family, Attempt &out) {
    std::vector<std::string> found, v4, v6;
    if (!transport::host_addresses(name, family == Family::Any ? KORVEX_FAMILY_BOTH : KORVEX_FAMILY_IPV6, found))
        return false;
    split(found, v4, v6);
    out = {family == Family::Any ? interleaved(v4, v6) : v6, family == Family::Any ? kStaggerMs : 0, name};
    return !out.addresses.empty();
}

std::vector<Attempt> exchanger_attempts(const MXQUERY_STRUCTURE &mx, Family family, std::size_t budget,
                                        Deadline deadline) {
    std::vector<Attempt> out;
    if (family == Family::V4) return out;
    for (int i = 0; i < mx_count(mx) && budget > 0 && std::chrono::steady_clock::now() < deadline; ++i)
        host_attempts(mx_host(mx, i), family, budget, out);
    return out;
}

}  // namespace vellor::resolve
