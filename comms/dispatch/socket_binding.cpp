#include "comms/dispatch/socket_binding.h"

#include <cstring>
#include <string>

#include "comms/dispatch/socket_binding_test_hooks.h"

namespace qv {

const char* const SocketEntryNames[kSocketEntryCount] = {
    "accept", "bind", "closesocket", "connect", "getpeername", "getsockname", "getsockopt", "htonl", "htons",
    "inet_addr", "inet_ntoa", "ioctlsocket", "listen", "ntohl", "ntohs", "recv", "recvfrom", "select", "send",
    "sendto", "setsockopt", "shutdown", "socket", "gethostbyaddr", "gethostbyname", "gethostname",
    "getservbyport", "getservbyname", "getprotobynumber", "getprotobyname", "WSAStartup", "WSACleanup",
    "WSASetLastError", "WSAGetLastError", "WSAIsBlocking", "WSAUnhookBlockingHook", "WSASetBlockingHook",
    "WSACancelBlockingCall", "WSAAsyncGetServByName", "WSAAsyncGetServByPort", "WSAAsyncGetProtoByName",
    "WSAAsyncGetProtoByNumber", "WSAAsyncGetHostByName", "WSAAsyncGetHostByAddr", "WSACancelAsyncRequest",
    "WSAAsyncSelect",
};

FARPROC SocketEntryTable[kSocketEntrySlots] = {};

namespace {

HMODULE g_library = nullptr;

std::string& ModuleName() {
    static std::string name = "WSOCK32";
    return name;
}

}  // namespace

void SetSocketLibraryModuleForTests(const char* moduleName) { ModuleName() = moduleName; }

bool BindSocketLibrary() {
    if (!g_library) {
        g_library = LoadLibraryA(ModuleName().c_str());
        if (!g_library) return false;
    }
    for (int i = 0; i < kSocketEntryCount; ++i) {
        SocketEntryTable[i] = GetProcAddress(g_library, SocketEntryNames[i]);
        if (!SocketEntryTable[i]) return false;
    }
    return true;
}

void ReleaseSocketLibrary() {
    if (g_library) FreeLibrary(g_library);
    g_library = nullptr;
    // No entry may point into a freed module.
    ClearSocketEntryTable();
}

void ClearSocketEntryTable() { std::memset(SocketEntryTable, 0, sizeof SocketEntryTable); }

HMODULE SocketLibraryHandle() { return g_library; }

}  // namespace qv
