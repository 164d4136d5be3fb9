// Companion lifecycle and bookkeeping: library block initialisation and
// closing, session record preparation, version report, and the network
// session counter of Start_Winsock / Stop_Winsock. Settings come from the
// environment, read at every use.
#include <cstdlib>
#include <cstring>

#include "common/export_guard.h"
#include "korvex/korvex_internal.h"

namespace korvex {

BlockState *state_of(TCPLIBRARY_STRUCTURE *block) { return reinterpret_cast<BlockState *>(block); }

namespace {
int env_number(const char *name, int fallback) {
    const char *v = std::getenv(name);
    if (!v || !*v) return fallback;
    char *end = nullptr;
    long n = std::strtol(v, &end, 10);
    return (end && *end == '\0' && n > 0 && n < (1L << 30)) ? static_cast<int>(n) : fallback;
}
}  // namespace

int timeout_ms() { return env_number("KORVEXAPI_TIMEOUT_MS", 60000); }
int send_block_size() { return env_number("KORVEXAPI_SEND_BLOCK_SIZE", 65536); }
std::string dns_servers() {
    const char *v = std::getenv("KORVEXAPI_DNS_SERVERS");
    return v ? v : "";
}

}  // namespace korvex

using namespace korvex;

extern "C" {

KORVEX_API int32_t KorvexAPI_Initialize_Library(TCPLIBRARY_STRUCTURE *block, int32_t, int32_t, const char *name) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!block) return -1;
        std::memset(block, 0, sizeof *block);
        BlockState *s = state_of(block);
        s->magic = kMagic;
        s->initialized = 1;
        if (name) std::strncpy(s->name, name, sizeof s->name - 1);
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Initialize_Structure(TCPLIBRARY_STRUCTURE *, TCPSESSION_STRUCTURE *session) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!session) return -1;
        std::memset(session, 0, sizeof *session);
        session->nSendBlockSize = send_block_size();
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Library_Version(char *version, char *build, uint32_t *structRevision) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (version) std::strcpy(version, kVersion);
        if (build) std::strcpy(build, kBuild);
        if (structRevision) *structRevision = kRevision;
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Start_Winsock(TCPLIBRARY_STRUCTURE *block, int32_t mode) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!block) return -1;
        BlockState *s = state_of(block);
        if (s->magic != kMagic) return -1;
        s->started += 1;
        s->mode = mode;
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Stop_Winsock(TCPLIBRARY_STRUCTURE *block) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!block) return -1;
        BlockState *s = state_of(block);
        if (s->magic != kMagic || s->started <= 0) return -1;
        s->started -= 1;
        return 0;
    });
}

KORVEX_API int32_t KorvexAPI_Closedown_Library(TCPLIBRARY_STRUCTURE *block, const char *) {
    return vellor::guarded(-1, [&]() -> int32_t {
        if (!block) return -1;
        BlockState *s = state_of(block);
        if (s->magic != kMagic) return -1;
        s->initialized = 0;
        s->started = 0;
        return 0;
    });
}

}  // extern "C"
