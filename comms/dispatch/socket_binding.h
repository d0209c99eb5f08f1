// Run-time binding to the Windows Sockets 1.1 library: "WSOCK32" is loaded
// with LoadLibrary and its entry points are looked up, in a fixed order,
// into SocketEntryTable. Every socket call of the system goes through that
// table (the typed callers in namespace sockapi below); nothing links the
// socket library directly.
#pragma once

#include <winsock2.h>
#include <windows.h>

namespace qv {

inline constexpr int kSocketEntrySlots = 48;
inline constexpr int kSocketEntryCount = 46;

// Slot numbers, in the order of lookup.
enum SocketEntry : int {
    seAccept, seBind, seCloseSocket, seConnect, seGetPeerName, seGetSockName, seGetSockOpt, seHtonl, seHtons,
    seInetAddr, seInetNtoa, seIoctlSocket, seListen, seNtohl, seNtohs, seRecv, seRecvFrom, seSelect, seSend,
    seSendTo, seSetSockOpt, seShutdown, seSocket, seGetHostByAddr, seGetHostByName, seGetHostName,
    seGetServByPort, seGetServByName, seGetProtoByNumber, seGetProtoByName, seWSAStartup, seWSACleanup,
    seWSASetLastError, seWSAGetLastError, seWSAIsBlocking, seWSAUnhookBlockingHook, seWSASetBlockingHook,
    seWSACancelBlockingCall, seWSAAsyncGetServByName, seWSAAsyncGetServByPort, seWSAAsyncGetProtoByName,
    seWSAAsyncGetProtoByNumber, seWSAAsyncGetHostByName, seWSAAsyncGetHostByAddr, seWSACancelAsyncRequest,
    seWSAAsyncSelect,
};

// The 46 entry names, in slot order.
extern const char* const SocketEntryNames[kSocketEntryCount];

// 48 slots; the first 46 are filled by BindSocketLibrary. Zeroed at start.
extern FARPROC SocketEntryTable[kSocketEntrySlots];

// Loads the library when it is not loaded yet (a failed load returns
// false), then looks every name up again, in order, stopping with false at
// the first one that is missing (the library stays loaded, earlier slots
// stay filled). True when all 46 were found.
bool BindSocketLibrary();
// Frees the library if loaded; runs once when the program ends.
void ReleaseSocketLibrary();
// Sets every slot to zero (process start-up).
void ClearSocketEntryTable();
// The loaded library, or none.
HMODULE SocketLibraryHandle();

// Typed callers through the table. The caller makes sure the table is
// bound (CommSocket checks its start-up before every call).
namespace sockapi {
template <class F>
inline F Entry(SocketEntry e) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(SocketEntryTable[e]));
}
inline SOCKET accept(SOCKET s, sockaddr* a, int* l) { return Entry<decltype(&::accept)>(seAccept)(s, a, l); }
inline int bind(SOCKET s, const sockaddr* a, int l) { return Entry<decltype(&::bind)>(seBind)(s, a, l); }
inline int closesocket(SOCKET s) { return Entry<decltype(&::closesocket)>(seCloseSocket)(s); }
inline int connect(SOCKET s, const sockaddr* a, int l) { return Entry<decltype(&::connect)>(seConnect)(s, a, l); }
inline int getpeername(SOCKET s, sockaddr* a, int* l) {
    return Entry<decltype(&::getpeername)>(seGetPeerName)(s, a, l);
}
inline int getsockname(SOCKET s, sockaddr* a, int* l) {
    return Entry<decltype(&::getsockname)>(seGetSockName)(s, a, l);
}
inline u_short htons(u_short v) { return Entry<decltype(&::htons)>(seHtons)(v); }
inline u_short ntohs(u_short v) { return Entry<decltype(&::ntohs)>(seNtohs)(v); }
inline unsigned long inet_addr(const char* t) { return Entry<decltype(&::inet_addr)>(seInetAddr)(t); }
inline char* inet_ntoa(in_addr a) { return Entry<decltype(&::inet_ntoa)>(seInetNtoa)(a); }
inline int ioctlsocket(SOCKET s, long cmd, u_long* arg) {
    return Entry<decltype(&::ioctlsocket)>(seIoctlSocket)(s, cmd, arg);
}
inline int listen(SOCKET s, int backlog) { return Entry<decltype(&::listen)>(seListen)(s, backlog); }
inline int recv(SOCKET s, char* b, int n, int f) { return Entry<decltype(&::recv)>(seRecv)(s, b, n, f); }
inline int send(SOCKET s, const char* b, int n, int f) { return Entry<decltype(&::send)>(seSend)(s, b, n, f); }
inline int setsockopt(SOCKET s, int level, int name, const char* v, int l) {
    return Entry<decltype(&::setsockopt)>(seSetSockOpt)(s, level, name, v, l);
}
inline int shutdown(SOCKET s, int how) { return Entry<decltype(&::shutdown)>(seShutdown)(s, how); }
inline SOCKET socket(int af, int type, int protocol) {
    return Entry<decltype(&::socket)>(seSocket)(af, type, protocol);
}
inline hostent* gethostbyname(const char* n) { return Entry<decltype(&::gethostbyname)>(seGetHostByName)(n); }
inline servent* getservbyname(const char* n, const char* p) {
    return Entry<decltype(&::getservbyname)>(seGetServByName)(n, p);
}
inline int WSAStartup(WORD v, WSADATA* d) { return Entry<decltype(&::WSAStartup)>(seWSAStartup)(v, d); }
inline int WSACleanup() { return Entry<decltype(&::WSACleanup)>(seWSACleanup)(); }
inline int WSAGetLastError() { return Entry<decltype(&::WSAGetLastError)>(seWSAGetLastError)(); }
inline void WSASetLastError(int e) { Entry<decltype(&::WSASetLastError)>(seWSASetLastError)(e); }
inline int WSACancelBlockingCall() { return Entry<int(WSAAPI*)()>(seWSACancelBlockingCall)(); }
inline int WSAAsyncSelect(SOCKET s, HWND w, u_int m, long e) {
    return Entry<decltype(&::WSAAsyncSelect)>(seWSAAsyncSelect)(s, w, m, e);
}
}  // namespace sockapi

}  // namespace qv
