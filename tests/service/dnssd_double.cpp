// A DNS-SD client library for tests: exports the four dns_sd entry points the
// service resolves through and answers every resolve from a scripted reply, so
// that discovery can be driven deterministically without an mDNS daemon.
//
// The reply is taken from DoubleSetReply or, when that was never called, from
// the first line of the file dnssd_double.txt beside the library, read at each
// DNSServiceResolve (a service started by the system's service manager does
// not inherit the test's environment, so the script lives in a file):
//   "reply HOST PORT"  answer with error 0, host target HOST and port PORT
//   "error CODE"       answer with that error code
//   "fail"             DNSServiceResolve itself fails
//   "processfail"      the reply is readable but DNSServiceProcessResult fails
//   "pending", no file no answer until DoubleDeliver
// When a file dnssd_double.log exists beside the library, each resolve
// appends one line with its arguments to it.
//
// The answer is made readable on a socket, as the real library does, so the
// service's select on DNSServiceRefSockFD sees it.

#include "discovery/dns_sd_api.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
typedef SOCKET DoubleSocket;
const DoubleSocket NO_SOCKET = INVALID_SOCKET;
#define DOUBLE_EXPORT extern "C"
#else
#include <dlfcn.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
typedef int DoubleSocket;
const DoubleSocket NO_SOCKET = -1;
#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

enum ReplyKind { REPLY_PENDING, REPLY_ANSWER, REPLY_ERROR, REPLY_FAIL, REPLY_PROCESS_FAIL };

struct Script {
    ReplyKind kind;
    char host[256];
    unsigned port;
    int error;
};

bool g_scriptSet = false;
char g_scriptText[300];
int g_resolveCount = 0;
int g_liveReferences = 0;
char g_lastRequest[600];
DNSServiceRef g_newestReference = nullptr;

}  // namespace

struct _DNSServiceRef_t {
    DoubleSocket readEnd;
    DoubleSocket writeEnd;
    Script script;
    DNSServiceResolveReply callback;
    void* context;
};

namespace {

Script ParseScript(const char* text)
{
    Script script;
    memset(&script, 0, sizeof script);
    script.kind = REPLY_PENDING;
    if (text == nullptr)
        return script;
    char word[32] = "";
    if (sscanf(text, "%31s", word) != 1)
        return script;
    if (strcmp(word, "reply") == 0 &&
        sscanf(text, "%*s %255s %u", script.host, &script.port) == 2) {
        script.kind = REPLY_ANSWER;
    } else if (strcmp(word, "error") == 0 && sscanf(text, "%*s %d", &script.error) == 1) {
        script.kind = REPLY_ERROR;
        strcpy(script.host, "127.0.0.1");
        script.port = 5055;
    } else if (strcmp(word, "fail") == 0) {
        script.kind = REPLY_FAIL;
    } else if (strcmp(word, "processfail") == 0) {
        script.kind = REPLY_PROCESS_FAIL;
    }
    return script;
}

void CloseSocket(DoubleSocket s)
{
#ifdef _WIN32
    closesocket(s);
#else
    close(s);
#endif
}

// A connected pair of sockets: the service watches the read end.
bool MakeSocketPair(DoubleSocket& readEnd, DoubleSocket& writeEnd)
{
#ifdef _WIN32
    static bool started = false;
    if (!started) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) != 0)
            return false;
        started = true;
    }
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET)
        return false;
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    readEnd = writeEnd = INVALID_SOCKET;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        listen(listener, 1) == 0 &&
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        writeEnd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (writeEnd != INVALID_SOCKET &&
            connect(writeEnd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            readEnd = accept(listener, nullptr, nullptr);
    }
    closesocket(listener);
    if (readEnd == INVALID_SOCKET) {
        if (writeEnd != INVALID_SOCKET)
            closesocket(writeEnd);
        return false;
    }
    return true;
#else
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return false;
    readEnd = ends[0];
    writeEnd = ends[1];
    return true;
#endif
}

// Sends the reply's byte and returns once the read end shows it. Over loopback
// TCP (the Windows build) the byte may reach the read end a moment after send
// returns, when the kernel defers loopback delivery under load; the service's
// poll never waits, so a reply counts as delivered only once it can be seen.
void Deliver(DNSServiceRef ref)
{
    char byte = 1;
    send(ref->writeEnd, &byte, 1, 0);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(ref->readEnd, &readable);
    timeval limit = { 5, 0 };
    select(static_cast<int>(ref->readEnd) + 1, &readable, nullptr, nullptr, &limit);
}

// Path of a file in the library's own directory.
bool PathBesideLibrary(const char* fileName, char* path, size_t size)
{
    char library[512] = "";
#ifdef _WIN32
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&PathBesideLibrary), &self) ||
        GetModuleFileNameA(self, library, sizeof library) == 0)
        return false;
#else
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&PathBesideLibrary), &info) == 0 ||
        info.dli_fname == nullptr)
        return false;
    snprintf(library, sizeof library, "%s", info.dli_fname);
#endif
    char* slash = strrchr(library, '/');
    char* backslash = strrchr(library, '\\');
    if (backslash != nullptr && (slash == nullptr || backslash > slash))
        slash = backslash;
    size_t directory = slash == nullptr ? 0 : static_cast<size_t>(slash - library + 1);
    return snprintf(path, size, "%.*s%s", static_cast<int>(directory), library, fileName) <
           static_cast<int>(size);
}

void ReadScriptFile(char* text, size_t size)
{
    text[0] = '\0';
    char path[600];
    if (!PathBesideLibrary("dnssd_double.txt", path, sizeof path))
        return;
    FILE* file = fopen(path, "r");
    if (file == nullptr)
        return;
    if (fgets(text, static_cast<int>(size), file) == nullptr)
        text[0] = '\0';
    fclose(file);
}

void AppendLog(const char* line)
{
    char path[600];
    if (!PathBesideLibrary("dnssd_double.log", path, sizeof path))
        return;
    FILE* probe = fopen(path, "r");
    if (probe == nullptr)
        return;
    fclose(probe);
    FILE* file = fopen(path, "ab");
    if (file == nullptr)
        return;
    fprintf(file, "%s\n", line);
    fclose(file);
}

}  // namespace

extern "C" {

DNSServiceErrorType DNSSD_API DNSServiceResolve(
    DNSServiceRef* sdRef, DNSServiceFlags flags, uint32_t interfaceIndex,
    const char* name, const char* regtype, const char* domain,
    DNSServiceResolveReply callBack, void* context)
{
    ++g_resolveCount;
    snprintf(g_lastRequest, sizeof g_lastRequest, "%u %u %s %s %s %s",
             static_cast<unsigned>(flags), static_cast<unsigned>(interfaceIndex),
             name ? name : "(null)", regtype ? regtype : "(null)",
             domain ? domain : "(null)", context ? "context" : "null");
    AppendLog(g_lastRequest);

    char fileText[300];
    if (!g_scriptSet)
        ReadScriptFile(fileText, sizeof fileText);
    Script script = ParseScript(g_scriptSet ? g_scriptText : fileText);
    if (script.kind == REPLY_FAIL)
        return kDNSServiceErr_Unknown;
    DNSServiceRef ref = static_cast<DNSServiceRef>(calloc(1, sizeof(_DNSServiceRef_t)));
    if (ref == nullptr)
        return kDNSServiceErr_Unknown;
    if (!MakeSocketPair(ref->readEnd, ref->writeEnd)) {
        free(ref);
        return kDNSServiceErr_Unknown;
    }
    ref->script = script;
    ref->callback = callBack;
    ref->context = context;
    ++g_liveReferences;
    g_newestReference = ref;
    if (script.kind != REPLY_PENDING)
        Deliver(ref);
    *sdRef = ref;
    return kDNSServiceErr_NoError;
}

void DNSSD_API DNSServiceRefDeallocate(DNSServiceRef sdRef)
{
    if (sdRef == nullptr)
        return;
    CloseSocket(sdRef->readEnd);
    CloseSocket(sdRef->writeEnd);
    if (g_newestReference == sdRef)
        g_newestReference = nullptr;
    free(sdRef);
    --g_liveReferences;
}

DNSServiceErrorType DNSSD_API DNSServiceProcessResult(DNSServiceRef sdRef)
{
    if (sdRef == nullptr)
        return kDNSServiceErr_Unknown;
    char byte;
    if (recv(sdRef->readEnd, &byte, 1, 0) != 1)
        return kDNSServiceErr_Unknown;
    if (sdRef->script.kind == REPLY_PROCESS_FAIL)
        return kDNSServiceErr_Unknown;

    // Copy everything out first: the callback may deallocate the reference.
    Script script = sdRef->script;
    DNSServiceResolveReply callback = sdRef->callback;
    void* context = sdRef->context;
    uint16_t port;
    unsigned char portBytes[2] = { static_cast<unsigned char>(script.port >> 8),
                                   static_cast<unsigned char>(script.port & 0xFF) };
    memcpy(&port, portBytes, sizeof port);
    DNSServiceErrorType error = script.kind == REPLY_ERROR ? script.error : 0;
    callback(sdRef, 0, 1, error, "mobile._ovalix._tcp.local.", script.host, port, 0,
             nullptr, context);
    return kDNSServiceErr_NoError;
}

#ifndef DOUBLE_OMIT_SOCKFD
dnssd_sock_t DNSSD_API DNSServiceRefSockFD(DNSServiceRef sdRef)
{
    if (sdRef == nullptr)
        return DNSSD_NO_SOCKET;
    return static_cast<dnssd_sock_t>(sdRef->readEnd);
}
#endif

}  // extern "C"

// Control interface for the tests, looked up by name like the entry points.

DOUBLE_EXPORT void DoubleReset()
{
    g_scriptSet = false;
    g_resolveCount = 0;
    g_lastRequest[0] = '\0';
}

DOUBLE_EXPORT void DoubleSetReply(const char* text)
{
    snprintf(g_scriptText, sizeof g_scriptText, "%s", text);
    g_scriptSet = true;
}

DOUBLE_EXPORT int DoubleResolveCount()
{
    return g_resolveCount;
}

DOUBLE_EXPORT int DoubleLiveReferences()
{
    return g_liveReferences;
}

DOUBLE_EXPORT const char* DoubleLastRequest()
{
    return g_lastRequest;
}

// Makes the newest outstanding resolve's reply readable; it then answers like
// "reply HOST PORT". False when no resolve is outstanding.
DOUBLE_EXPORT bool DoubleDeliver(const char* host, unsigned port)
{
    DNSServiceRef ref = g_newestReference;
    if (ref == nullptr)
        return false;
    ref->script.kind = REPLY_ANSWER;
    snprintf(ref->script.host, sizeof ref->script.host, "%s", host);
    ref->script.port = port;
    Deliver(ref);
    return true;
}
