// Every export is a C boundary: an exception thrown anywhere inside (here
// an allocation failure at each allocation in turn, as a library under
// memory pressure would meet them) ends the call with its failure result,
// never unwinds into the caller. The allocator of this test program fails
// the n-th allocation of the calling thread on request.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "support/test_env.h"
#include "vellorapi.h"

namespace {
thread_local long t_fail_at = 0;  // the allocation to fail, counting down; 0: none
}

void *operator new(std::size_t n) {
    if (t_fail_at > 0 && --t_fail_at == 0) throw std::bad_alloc();
    if (void *p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept { std::free(p); }
void operator delete(void *p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace testenv;

// Calls fn with the k-th allocation failing, for k = 1, 2, ... until a call
// makes fewer than k allocations; the number of calls made.
template <class Fn>
int fail_each_allocation(Fn fn) {
    int k = 1;
    for (; k < 5000; ++k) {
        t_fail_at = k;
        fn();
        bool reached = t_fail_at == 0;
        t_fail_at = 0;
        if (!reached) break;
    }
    return k;
}

TEST(ExportGuard, AllocationFailuresBecomeFailureResults) {
    TempEnv env;
    write_file(env.path("m.txt"), "Subject: x\r\n\r\nbody\r\n");
    int closed_port = free_port("127.0.0.1");
    SMTPINIT_STRUCTURE lib{};
    VELLOR_Initialize_Library(&lib, 0, "App");
    const std::string message = env.path("m.txt");
    int calls = fail_each_allocation([&] {  // only the exports allocate in here
        SMTPSEND_STRUCTURE req{};
        std::strcpy(req.szSender, "a@b.test");
        std::strcpy(req.szRecipient, "c@d.test");
        req.bSingleRecipient = 1;
        std::strcpy(req.szServerIP, "127.0.0.1");
        req.nPort = closed_port;
        std::strcpy(req.szMessageFile, message.c_str());
        if (VELLOR_Send_Message("App", &req, nullptr) != -1) ADD_FAILURE() << "a send to a closed port succeeded";
        VELLOR_Get_Error_Details(&req);
        req.bUseEnvFile = 1;
        VELLOR_Get_Message_Details(&req);
        SMTPINIT_STRUCTURE again{};
        VELLOR_Initialize_Library(&again, 0, "App");
        VELLOR_Closedown_Library(&again, "App");
        TCPLIBRARY_STRUCTURE block{};
        TCPSESSION_STRUCTURE session{};
        KorvexAPI_Initialize_Library(&block, 0, 1, "T");
        std::strcpy(session.szHostAddress, "127.0.0.1");
        session.nPort = static_cast<uint32_t>(closed_port);
        if (KorvexAPI_Make_Connection(&block, &session, 0) != -1) ADD_FAILURE() << "connected to a closed port";
        char address[16];
        KorvexAPI_Get_IPAddress_From_Hostname(&block, &session, "localhost", address);
    });
    EXPECT_GT(calls, 20);  // the send path allocates, and every one of those failures was survived
}

}  // namespace
