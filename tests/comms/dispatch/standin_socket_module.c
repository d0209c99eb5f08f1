/* A stand-in for the socket library, for the binding's failure paths.
 * Built three times:
 *   QV_LACK_NAME       exports every name but "gethostbyname";
 *   QV_VERSION_1_2     its start-up reports version 1.2;
 *   QV_STARTUP_FAILS   its start-up fails with 10091 (system not ready).
 * Only start-up, clean-up and the cancel call are ever reached (the
 * component refuses every operation after a failed start-up); the other
 * entries only have to exist. */
#include <string.h>

typedef unsigned short WORD;

#define EXPORT __declspec(dllexport)
#define STUB(name) EXPORT int name(void) { return -1; }

/* Start-up record: only the two version words at its start are written. */
struct StartupRecord {
    WORD wVersion;
    WORD wHighVersion;
};

static int startups = 0;

EXPORT int WSAStartup(WORD requested, struct StartupRecord* data) {
    (void)requested;
#if defined(QV_STARTUP_FAILS)
    (void)data;
    return 10091;
#else
    data->wVersion = 0x0201; /* major 1, minor 2 */
    data->wHighVersion = 0x0201;
    ++startups;
    return 0;
#endif
}
EXPORT int WSACleanup(void) { return startups > 0 ? (--startups, 0) : -1; }
EXPORT int WSACancelBlockingCall(void) { return 0; }

STUB(accept) STUB(bind) STUB(closesocket) STUB(connect) STUB(getpeername) STUB(getsockname) STUB(getsockopt)
STUB(htonl) STUB(htons) STUB(inet_addr) STUB(inet_ntoa) STUB(ioctlsocket) STUB(listen) STUB(ntohl) STUB(ntohs)
STUB(recv) STUB(recvfrom) STUB(select) STUB(send) STUB(sendto) STUB(setsockopt) STUB(shutdown) STUB(socket)
STUB(gethostbyaddr)
#if !defined(QV_LACK_NAME)
STUB(gethostbyname)
#endif
STUB(gethostname) STUB(getservbyport) STUB(getservbyname) STUB(getprotobynumber) STUB(getprotobyname)
STUB(WSASetLastError) STUB(WSAGetLastError) STUB(WSAIsBlocking) STUB(WSAUnhookBlockingHook)
STUB(WSASetBlockingHook) STUB(WSAAsyncGetServByName) STUB(WSAAsyncGetServByPort) STUB(WSAAsyncGetProtoByName)
STUB(WSAAsyncGetProtoByNumber) STUB(WSAAsyncGetHostByName) STUB(WSAAsyncGetHostByAddr) STUB(WSACancelAsyncRequest)
STUB(WSAAsyncSelect)
