/* A complete small application: sends one message held in global memory
 * through a relay server that wants a login, and prints every report.
 * Usage: send_example SERVER-ADDRESS PORT USER PASSWORD */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h> /* GlobalAlloc and friends come from kernel32 on Windows */
#endif
#include "vellorapi.h"

static int32_t VELLOR_CALLBACK on_report(SMTPSEND_STRUCTURE *request, int32_t status, const char *text, int32_t code) {
    (void)request;
    printf("%d %d %s\n", status, code, text);
    return 0;
}

int main(int argc, char **argv) {
    static const char body[] = "Subject: Hello from C\r\n\r\nThis message was sent by send_example.\r\n";
    SMTPINIT_STRUCTURE library;
    SMTPSEND_STRUCTURE request;
    HGLOBAL message;
    int32_t result;

    if (argc < 5) {
        fprintf(stderr, "usage: %s SERVER-ADDRESS PORT USER PASSWORD\n", argv[0]);
        return 2;
    }
    VELLOR_Initialize_Library(&library, 0, "SendExample");
    memset(&request, 0, sizeof request);
    VELLOR_Initialize_Structure(&library, &request);

    strncpy(request.szServerIP, argv[1], sizeof request.szServerIP - 1);
    request.nPort = atoi(argv[2]);
    strncpy(request.szAuthUser, argv[3], sizeof request.szAuthUser - 1);
    strncpy(request.szAuthPassword, argv[4], sizeof request.szAuthPassword - 1);
    strcpy(request.szSender, "example@sender.test");
    strcpy(request.szRecipient, "someone@recipient.test");
    request.bSingleRecipient = 1;

    message = GlobalAlloc(GHND, sizeof body);
    memcpy(GlobalLock(message), body, sizeof body);
    GlobalUnlock(message);
    request.hMessage = message;

    result = VELLOR_Send_Message("SendExample", &request, on_report);
    if (result != 0) {
        VELLOR_Get_Error_Details(&request);
        fprintf(stderr, "send failed: %s\n", request.szErrorText);
    }
    GlobalFree(message);
    VELLOR_Closedown_Library(&library, "SendExample");
    return result == 0 ? 0 : 1;
}
