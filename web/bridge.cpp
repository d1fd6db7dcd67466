// The bridge's one loop. Three kinds of connection meet here:
//
// - the phone port (TLS only): the page's files, and the WebSocket /link
//   that a page opens with the pairing token;
// - the pairing page on loopback (plain HTTP, a secure context there);
// - the TCP connection to the service's phone port, made when a page links.
//
// One link at a time. Its WebSocket and its service connection live and die
// together: when either ends, so does the other, and the page links again.
// Bytes from the page go to the service straight from the WebSocket
// library's buffer when the socket takes them, and only what it does not
// take waits in a buffer made once; the few bytes the service sends wait in
// another until the WebSocket can take them. A side that cannot keep up
// stops the other side's reading (flow control), so neither buffer ever
// overflows, and no message from the page is held whole.

#include "bridge.h"

#include <libwebsockets.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <initializer_list>

#include "link_rules.h"
#include "page_files.h"
#include "pair_page.h"
#include "socket_send.h"

namespace {

// The largest piece of a WebSocket message the library hands over at once.
const size_t kReceiveChunk = 32 * 1024;
// Bytes from the page that wait for the service: room for several pieces,
// reading from the page stops while less than one piece's room is left.
const size_t kToServiceSize = 512 * 1024;
// Bytes from the service that wait for the page.
const size_t kToPageSize = 64 * 1024;
// The most the library reads from the service at once (its service buffer).
const size_t kServiceRead = 4096;
// A service that does not answer a link is tried again this often, this
// many times, before the page is told to come back later.
const int kConnectRetryMs = 250;
const int kConnectAttempts = 12;
// Page files go out in pieces of this size.
const size_t kFileChunk = 16 * 1024;
// Connections at once, in all: the link, its service connection, the
// listeners and the people loading pages; a flood waits or is refused
// without touching the link.
const unsigned kConnectionLimit = 160;
// Seconds a connection may take for its TLS handshake or its request.
const unsigned kHandshakeSeconds = 10;

// The WebSocket close code for "try again later", which the library does
// not name.
const uint16_t kCloseTryAgainLater = 1013;

const char kLinkPath[] = "/link";
const char kPhoneProtocol[] = "ovalix-phone";
const char kServiceProtocol[] = "ovalix-service";

// What one HTTP connection is sending, or one WebSocket's fate.
struct Session {
    const unsigned char* body;
    size_t size;
    size_t sent;
    bool evicted;  // a WebSocket that no longer is the link: close it
    uint16_t closeCode;
    bool renewPending;  // a renewal that waits for its request body
};

struct Link {
    struct lws* ws;   // the page's WebSocket; nullptr: no link
    struct lws* raw;  // the service connection, while it exists
    bool rawConnected;
    bool pageReadPaused;
    bool serviceReadPaused;
    bool binaryMessage;
    int attempts;
    uint16_t closeCode;  // nonzero: close the WebSocket with it
    uint32_t lastReceiveTick;
    char address[RATE_ADDRESS_CHARS];
    MessageBound bound;
    size_t toServiceFill;
    size_t toServiceSent;
    size_t toPageFill;
};

struct Bridge {
    struct lws_context* context;
    struct lws_vhost* phoneHost;
    struct lws_vhost* pairHost;
    WebOptions options;
    Credentials credentials;
    HostInfo host;
    RateLimiter limiter;
    Link link;
    std::atomic<bool> stop;
    unsigned char toService[kToServiceSize];
    unsigned char toPage[LWS_PRE + kToPageSize];
    unsigned char chunk[LWS_PRE + kFileChunk];
    char pairPage[64 * 1024];
    char status[128];
};

// Process-wide, made once: the buffers above are the only big ones.
Bridge* g = nullptr;

uint32_t Now()
{
    return static_cast<uint32_t>(lws_now_usecs() / 1000);
}

void PeerAddress(struct lws* wsi, char* out, size_t cap)
{
    if (lws_get_peer_simple(wsi, out, cap) == nullptr) {
        snprintf(out, cap, "?");
    }
}

// ---- HTTP responses ---------------------------------------------------

// Sends status, headers and body (which must outlive the connection's
// writes); the body goes out from the writable callback.
int Respond(struct lws* wsi, Session* session, unsigned status, const char* type, const void* body,
            size_t size)
{
    unsigned char headers[LWS_PRE + 1024];
    unsigned char* start = headers + LWS_PRE;
    unsigned char* p = start;
    unsigned char* end = headers + sizeof headers - 1;
    static const char kNoStore[] = "no-store";
    static const char kNoSniff[] = "nosniff";
    static const char kNoReferrer[] = "no-referrer";
    if (lws_add_http_common_headers(wsi, status, type, size, &p, end) ||
        lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>("cache-control:"),
                                    reinterpret_cast<const unsigned char*>(kNoStore),
                                    sizeof kNoStore - 1, &p, end) ||
        lws_add_http_header_by_name(
            wsi, reinterpret_cast<const unsigned char*>("x-content-type-options:"),
            reinterpret_cast<const unsigned char*>(kNoSniff), sizeof kNoSniff - 1, &p, end) ||
        lws_add_http_header_by_name(wsi, reinterpret_cast<const unsigned char*>("referrer-policy:"),
                                    reinterpret_cast<const unsigned char*>(kNoReferrer),
                                    sizeof kNoReferrer - 1, &p, end) ||
        lws_finalize_write_http_header(wsi, start, &p, end)) {
        return 1;
    }
    session->body = static_cast<const unsigned char*>(body);
    session->size = size;
    session->sent = 0;
    if (size == 0) {
        return lws_http_transaction_completed(wsi) ? -1 : 0;
    }
    lws_callback_on_writable(wsi);
    return 0;
}

int RespondText(struct lws* wsi, Session* session, unsigned status, const char* text)
{
    return Respond(wsi, session, status, "text/plain; charset=utf-8", text, strlen(text));
}

// The next piece of a response body.
int WriteBody(struct lws* wsi, Session* session)
{
    if (session->body == nullptr) {
        return 0;
    }
    size_t n = session->size - session->sent;
    if (n > kFileChunk) {
        n = kFileChunk;
    }
    memcpy(g->chunk + LWS_PRE, session->body + session->sent, n);
    session->sent += n;
    bool last = session->sent == session->size;
    if (lws_write(wsi, g->chunk + LWS_PRE, n, last ? LWS_WRITE_HTTP_FINAL : LWS_WRITE_HTTP) <
        static_cast<int>(n)) {
        return -1;
    }
    if (last) {
        session->body = nullptr;
        return lws_http_transaction_completed(wsi) ? -1 : 0;
    }
    lws_callback_on_writable(wsi);
    return 0;
}

// ---- the link -----------------------------------------------------------

bool PageReadShouldPause()
{
    return kToServiceSize - g->link.toServiceFill < kReceiveChunk;
}

// Ends the link: the WebSocket closes with code, the service connection goes.
void EndLink(uint16_t code)
{
    Link& link = g->link;
    if (link.ws != nullptr) {
        Session* session = static_cast<Session*>(lws_wsi_user(link.ws));
        session->evicted = true;
        session->closeCode = code;
        lws_callback_on_writable(link.ws);
    }
    if (link.raw != nullptr) {
        lws_set_timeout(link.raw, PENDING_TIMEOUT_KILLED_BY_PARENT, LWS_TO_KILL_ASYNC);
    }
    memset(&link, 0, sizeof link);
}

// The link ends from the page's side: its WebSocket is closing by itself
// (or is being closed now), and the service connection goes at once rather
// than when the close handshake is over.
void ReleaseLink(struct lws* wsi)
{
    if (wsi == g->link.ws) {
        g->link.ws = nullptr;
        EndLink(0);
    }
}

void ConnectService()
{
    Link& link = g->link;
    link.attempts++;
    link.rawConnected = false;
    struct lws_client_connect_info info;
    memset(&info, 0, sizeof info);
    info.context = g->context;
    info.vhost = g->pairHost;
    info.address = "127.0.0.1";
    info.host = info.address;
    info.origin = info.address;
    info.port = g->options.servicePort;
    info.path = "";
    info.method = "RAW";
    info.protocol = kServiceProtocol;
    info.local_protocol_name = kServiceProtocol;
    info.pwsi = &link.raw;
    if (lws_client_connect_via_info(&info) == nullptr) {
        link.raw = nullptr;
        if (link.ws != nullptr) {
            lws_set_timer_usecs(link.ws, kConnectRetryMs * LWS_USEC_PER_SEC / 1000);
        }
    }
}

void StartLink(struct lws* wsi)
{
    Link& link = g->link;
    if (link.ws != nullptr) {
        EndLink(LWS_CLOSE_STATUS_POLICY_VIOLATION);
    }
    link.ws = wsi;
    link.lastReceiveTick = Now();
    PeerAddress(wsi, link.address, sizeof link.address);
    ConnectService();
}

// Hands the page's bytes to the service: straight to its socket while
// nothing waits before them, the rest into the buffer. False when they do
// not fit, which flow control rules out.
bool RelayToService(const unsigned char* data, size_t length)
{
    Link& link = g->link;
    if (link.rawConnected && link.toServiceFill == 0) {
        long n = SendSome(static_cast<long long>(lws_get_socket_fd(link.raw)), data, length);
        if (n < 0) {
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    if (length == 0) {
        return true;
    }
    if (length > kToServiceSize - link.toServiceFill) {
        return false;
    }
    memcpy(g->toService + link.toServiceFill, data, length);
    link.toServiceFill += length;
    if (link.rawConnected) {
        lws_callback_on_writable(link.raw);
    }
    if (PageReadShouldPause() && !link.pageReadPaused) {
        link.pageReadPaused = true;
        lws_rx_flow_control(link.ws, 0);
    }
    return true;
}

int FlushToService()
{
    Link& link = g->link;
    size_t waiting = link.toServiceFill - link.toServiceSent;
    if (waiting > 0) {
        long n = SendSome(static_cast<long long>(lws_get_socket_fd(link.raw)),
                          g->toService + link.toServiceSent, waiting);
        if (n < 0) {
            return -1;
        }
        link.toServiceSent += static_cast<size_t>(n);
    }
    if (link.toServiceSent == link.toServiceFill) {
        link.toServiceFill = 0;
        link.toServiceSent = 0;
    } else {
        lws_callback_on_writable(link.raw);
    }
    if (link.pageReadPaused && !PageReadShouldPause()) {
        link.pageReadPaused = false;
        lws_rx_flow_control(link.ws, 1);
    }
    return 0;
}

// ---- the phone port -----------------------------------------------------

// The answer to a WebSocket upgrade: 0 lets it through, >0 when refused
// with a status already sent.
int ConfirmUpgrade(struct lws* wsi)
{
    char path[64];
    if (lws_hdr_copy(wsi, path, sizeof path, WSI_TOKEN_GET_URI) <= 0 ||
        strcmp(path, kLinkPath) != 0) {
        lws_return_http_status(wsi, HTTP_STATUS_NOT_FOUND, nullptr);
        return 1;
    }
    char peer[RATE_ADDRESS_CHARS];
    PeerAddress(wsi, peer, sizeof peer);
    uint32_t now = Now();
    if (!RateAllows(&g->limiter, peer, now)) {
        lws_return_http_status(wsi, 429, nullptr);
        return 1;
    }
    char args[256];
    char token[TOKEN_CHARS + 2];
    int n = lws_hdr_copy(wsi, args, sizeof args, WSI_TOKEN_HTTP_URI_ARGS);
    if (n < 0 || !FindQueryValue(args, static_cast<size_t>(n), "t", token, sizeof token) ||
        !TokenMatches(token, g->credentials.token)) {
        RateRecordFailure(&g->limiter, peer, now);
        lws_return_http_status(wsi, HTTP_STATUS_FORBIDDEN, nullptr);
        return 1;
    }
    LinkView view = {g->link.ws != nullptr, g->link.address, g->link.lastReceiveTick};
    if (!LinkMayBeReplaced(view, peer, now)) {
        lws_return_http_status(wsi, HTTP_STATUS_CONFLICT, nullptr);
        return 1;
    }
    return 0;
}

// A page request on the phone port.
int ServePhoneHttp(struct lws* wsi, Session* session, const char* path)
{
    if (lws_hdr_total_length(wsi, WSI_TOKEN_GET_URI) <= 0) {
        return RespondText(wsi, session, HTTP_STATUS_METHOD_NOT_ALLOWED, "Only GET here.\n");
    }
    // The page's own address, while another phone is linked, is the "in
    // use" page; its other files are served as ever.
    if (strcmp(path, "/") == 0 || strcmp(path, "/index.html") == 0) {
        char peer[RATE_ADDRESS_CHARS];
        PeerAddress(wsi, peer, sizeof peer);
        LinkView view = {g->link.ws != nullptr, g->link.address, g->link.lastReceiveTick};
        if (!LinkMayBeReplaced(view, peer, Now())) {
            return Respond(wsi, session, HTTP_STATUS_CONFLICT, "text/html; charset=utf-8",
                           kInUsePage, strlen(kInUsePage));
        }
    }
    const PageFile* file = FindPageFile(path);
    if (file == nullptr) {
        return RespondText(wsi, session, HTTP_STATUS_NOT_FOUND, "Not found.\n");
    }
    return Respond(wsi, session, HTTP_STATUS_OK, ContentTypeOf(file->name), file->data, file->size);
}

// A piece of a WebSocket message from the page.
int ReceiveFromPage(struct lws* wsi, Session* session, const void* in, size_t length)
{
    Link& link = g->link;
    if (session->evicted || wsi != link.ws) {
        return 0;
    }
    link.lastReceiveTick = Now();
    if (lws_is_first_fragment(wsi)) {
        MessageStart(&link.bound);
        link.binaryMessage = lws_frame_is_binary(wsi);
    }
    if (!MessageAdd(&link.bound, length, lws_remaining_packet_payload(wsi))) {
        static const char kReason[] = "message too large";
        lws_close_reason(wsi, LWS_CLOSE_STATUS_MESSAGE_TOO_LARGE,
                         reinterpret_cast<unsigned char*>(const_cast<char*>(kReason)),
                         sizeof kReason - 1);
        ReleaseLink(wsi);
        return -1;
    }
    // Text messages are reserved for later use.
    if (!link.binaryMessage || length == 0) {
        return 0;
    }
    if (!RelayToService(static_cast<const unsigned char*>(in), length)) {
        lws_close_reason(wsi, LWS_CLOSE_STATUS_UNEXPECTED_CONDITION, nullptr, 0);
        ReleaseLink(wsi);
        return -1;
    }
    return 0;
}

int WriteToPage(struct lws* wsi, Session* session)
{
    Link& link = g->link;
    if (session->evicted || wsi != link.ws) {
        if (session->closeCode != 0) {
            lws_close_reason(wsi, static_cast<enum lws_close_status>(session->closeCode), nullptr,
                             0);
        }
        return -1;
    }
    if (link.toPageFill > 0) {
        int n = lws_write(wsi, g->toPage + LWS_PRE, link.toPageFill, LWS_WRITE_BINARY);
        if (n < static_cast<int>(link.toPageFill)) {
            ReleaseLink(wsi);
            return -1;
        }
        link.toPageFill = 0;
        if (link.serviceReadPaused && link.raw != nullptr) {
            link.serviceReadPaused = false;
            lws_rx_flow_control(link.raw, 1);
        }
    }
    return 0;
}

int PhoneCallback(struct lws* wsi, enum lws_callback_reasons reason, void* user, void* in,
                  size_t length)
{
    Session* session = static_cast<Session*>(user);
    switch (reason) {
    case LWS_CALLBACK_HTTP:
        return ServePhoneHttp(wsi, session, static_cast<const char*>(in));
    case LWS_CALLBACK_HTTP_WRITEABLE:
        return WriteBody(wsi, session);
    case LWS_CALLBACK_HTTP_CONFIRM_UPGRADE:
        return ConfirmUpgrade(wsi);
    case LWS_CALLBACK_ESTABLISHED:
        memset(session, 0, sizeof *session);
        StartLink(wsi);
        return 0;
    case LWS_CALLBACK_RECEIVE:
        return ReceiveFromPage(wsi, session, in, length);
    case LWS_CALLBACK_SERVER_WRITEABLE:
        return WriteToPage(wsi, session);
    case LWS_CALLBACK_TIMER:
        // A service connection to try again.
        if (wsi == g->link.ws && g->link.raw == nullptr) {
            if (g->link.attempts >= kConnectAttempts) {
                EndLink(kCloseTryAgainLater);
            } else {
                ConnectService();
            }
        }
        return 0;
    case LWS_CALLBACK_CLOSED:
        ReleaseLink(wsi);
        return 0;
    default:
        return lws_callback_http_dummy(wsi, reason, user, in, length);
    }
}

// ---- the service connection -------------------------------------------------

int ServiceCallback(struct lws* wsi, enum lws_callback_reasons reason, void* user, void* in,
                    size_t length)
{
    Link& link = g->link;
    bool current = wsi == link.raw && link.raw != nullptr;
    switch (reason) {
    case LWS_CALLBACK_RAW_CONNECTED:
        if (current) {
            link.rawConnected = true;
            if (link.toServiceFill > 0) {
                lws_callback_on_writable(wsi);
            }
        }
        return current ? 0 : -1;
    case LWS_CALLBACK_CLIENT_CONNECTION_ERROR:
        if (current) {
            link.raw = nullptr;
            lws_set_timer_usecs(link.ws, kConnectRetryMs * LWS_USEC_PER_SEC / 1000);
        }
        return 0;
    case LWS_CALLBACK_RAW_RX:
        if (!current) {
            return -1;
        }
        if (length > kToPageSize - link.toPageFill) {
            EndLink(LWS_CLOSE_STATUS_UNEXPECTED_CONDITION);
            return -1;
        }
        memcpy(g->toPage + LWS_PRE + link.toPageFill, in, length);
        link.toPageFill += length;
        lws_callback_on_writable(link.ws);
        if (kToPageSize - link.toPageFill < kServiceRead && !link.serviceReadPaused) {
            link.serviceReadPaused = true;
            lws_rx_flow_control(wsi, 0);
        }
        return 0;
    case LWS_CALLBACK_RAW_WRITEABLE:
        if (!current) {
            return -1;
        }
        if (FlushToService() < 0) {
            EndLink(LWS_CLOSE_STATUS_GOINGAWAY);
            return -1;
        }
        return 0;
    case LWS_CALLBACK_RAW_CLOSE:
        if (current) {
            // The service ended the link (or went away): the page links anew.
            link.raw = nullptr;
            EndLink(LWS_CLOSE_STATUS_GOINGAWAY);
        }
        return 0;
    default:
        return lws_callback_http_dummy(wsi, reason, user, in, length);
    }
}

// ---- the pairing page -------------------------------------------------------

// A request that names this loopback server itself. A web page elsewhere
// that gets a browser to ask under another host name (DNS rebinding) would
// otherwise read the token.
bool HostIsLoopback(struct lws* wsi)
{
    char host[96];
    if (lws_hdr_copy(wsi, host, sizeof host, WSI_TOKEN_HOST) <= 0) {
        return false;
    }
    char expected[64];
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        snprintf(expected, sizeof expected, "%s:%d", name, g->options.pairPort);
        if (strcmp(host, expected) == 0) {
            return true;
        }
    }
    return false;
}

// A renewal comes from the pairing page itself, or from a tool that sends
// no Origin; never from another site's form.
bool OriginIsPairPage(struct lws* wsi)
{
    char origin[96];
    int n = lws_hdr_copy(wsi, origin, sizeof origin, WSI_TOKEN_ORIGIN);
    if (n <= 0) {
        return n == 0 && lws_hdr_total_length(wsi, WSI_TOKEN_ORIGIN) == 0;
    }
    char expected[64];
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"}) {
        snprintf(expected, sizeof expected, "http://%s:%d", name, g->options.pairPort);
        if (strcmp(origin, expected) == 0) {
            return true;
        }
    }
    return false;
}

int Renew(struct lws* wsi, Session* session)
{
    if (!OriginIsPairPage(wsi)) {
        return RespondText(wsi, session, HTTP_STATUS_FORBIDDEN, "Renew from the pairing page.\n");
    }
    if (!RenewToken(&g->credentials)) {
        return RespondText(wsi, session, HTTP_STATUS_INTERNAL_SERVER_ERROR,
                           "The new code could not be stored.\n");
    }
    if (g->link.ws != nullptr) {
        EndLink(LWS_CLOSE_STATUS_POLICY_VIOLATION);
    }
    unsigned char headers[LWS_PRE + 512];
    unsigned char* p = headers + LWS_PRE;
    unsigned char* end = headers + sizeof headers - 1;
    if (lws_http_redirect(wsi, HTTP_STATUS_SEE_OTHER, reinterpret_cast<const unsigned char*>("/"),
                          1, &p, end) < 0) {
        return -1;
    }
    return lws_http_transaction_completed(wsi) ? -1 : 0;
}

int ServePair(struct lws* wsi, Session* session, const char* path)
{
    if (!HostIsLoopback(wsi)) {
        return RespondText(wsi, session, HTTP_STATUS_FORBIDDEN, "Open this page as 127.0.0.1.\n");
    }
    bool get = lws_hdr_total_length(wsi, WSI_TOKEN_GET_URI) > 0;
    bool post = lws_hdr_total_length(wsi, WSI_TOKEN_POST_URI) > 0;
    if (post && strcmp(path, "/renew") == 0) {
        // A body, if any, is not needed; the answer waits until it has arrived.
        char length[16];
        if (lws_hdr_copy(wsi, length, sizeof length, WSI_TOKEN_HTTP_CONTENT_LENGTH) > 0 &&
            strcmp(length, "0") != 0) {
            session->renewPending = true;
            return 0;
        }
        return Renew(wsi, session);
    }
    if (!get) {
        return RespondText(wsi, session, HTTP_STATUS_METHOD_NOT_ALLOWED, "Not here.\n");
    }
    const char* linked = g->link.ws != nullptr ? g->link.address : nullptr;
    if (strcmp(path, "/") == 0) {
        ReadHostInfo(&g->host);
        if (!BuildPairPage(g->credentials, g->host, g->options.port, linked, g->pairPage,
                           sizeof g->pairPage)) {
            return RespondText(wsi, session, HTTP_STATUS_INTERNAL_SERVER_ERROR,
                               "Page too large.\n");
        }
        return Respond(wsi, session, HTTP_STATUS_OK, "text/html; charset=utf-8", g->pairPage,
                       strlen(g->pairPage));
    }
    if (strcmp(path, "/status") == 0) {
        snprintf(g->status, sizeof g->status, linked ? "linked %s\n" : "idle\n", linked);
        return RespondText(wsi, session, HTTP_STATUS_OK, g->status);
    }
    return RespondText(wsi, session, HTTP_STATUS_NOT_FOUND, "Not found.\n");
}

int PairCallback(struct lws* wsi, enum lws_callback_reasons reason, void* user, void* in,
                 size_t length)
{
    Session* session = static_cast<Session*>(user);
    switch (reason) {
    case LWS_CALLBACK_HTTP:
        return ServePair(wsi, session, static_cast<const char*>(in));
    case LWS_CALLBACK_HTTP_BODY:
        return 0;
    case LWS_CALLBACK_HTTP_BODY_COMPLETION:
        if (session->renewPending) {
            session->renewPending = false;
            return Renew(wsi, session);
        }
        return 0;
    case LWS_CALLBACK_HTTP_WRITEABLE:
        return WriteBody(wsi, session);
    case LWS_CALLBACK_HTTP_CONFIRM_UPGRADE:
        lws_return_http_status(wsi, HTTP_STATUS_NOT_FOUND, nullptr);
        return 1;
    case LWS_CALLBACK_CLIENT_CONNECTION_ERROR:
        // A service connection that failed before its protocol was bound.
        return ServiceCallback(wsi, reason, user, in, length);
    default:
        return lws_callback_http_dummy(wsi, reason, user, in, length);
    }
}

const struct lws_protocols kPhoneProtocols[] = {
    {kPhoneProtocol, PhoneCallback, sizeof(Session), kReceiveChunk, 0, nullptr, 0},
    {nullptr,        nullptr,       0,               0,             0, nullptr, 0}
};

const struct lws_protocols kPairProtocols[] = {
    {"ovalix-pair",    PairCallback,    sizeof(Session), 0,            0, nullptr, 0},
    {kServiceProtocol, ServiceCallback, 0,               kServiceRead, 0, nullptr, 0},
    {nullptr,          nullptr,         0,               0,            0, nullptr, 0}
};

void LogLine(int level, const char* line)
{
    (void)level;
    fprintf(stderr, "ovalix-web: %s", line);
}

}  // namespace

int RunBridge(const WebOptions& options, const Credentials& credentials, const HostInfo& host)
{
    static Bridge bridge;
    g = &bridge;
    g->options = options;
    g->credentials = credentials;
    g->host = host;
    RateReset(&g->limiter);
    memset(&g->link, 0, sizeof g->link);

    lws_set_log_level(LLL_ERR, LogLine);
    struct lws_context_creation_info info;
    memset(&info, 0, sizeof info);
    info.options = LWS_SERVER_OPTION_EXPLICIT_VHOSTS | LWS_SERVER_OPTION_DO_SSL_GLOBAL_INIT;
    info.fd_limit_per_thread = kConnectionLimit;
    info.timeout_secs = kHandshakeSeconds;
    info.timeout_secs_ah_idle = kHandshakeSeconds;
    info.keepalive_timeout = kHandshakeSeconds;
    info.pt_serv_buf_size = kServiceRead;
    g->context = lws_create_context(&info);
    if (g->context == nullptr) {
        fprintf(stderr, "ovalix-web: the WebSocket library did not start\n");
        return 1;
    }

    struct lws_context_creation_info phone;
    memset(&phone, 0, sizeof phone);
    phone.vhost_name = "phone";
    phone.port = options.port;
    phone.protocols = kPhoneProtocols;
    // Every address of both families: the socket takes IPv4 as well, which
    // Windows leaves off by default.
    phone.options = LWS_SERVER_OPTION_DO_SSL_GLOBAL_INIT | LWS_SERVER_OPTION_IPV6_V6ONLY_MODIFY;
    phone.ssl_cert_filepath = g->credentials.certPath;
    phone.ssl_private_key_filepath = g->credentials.keyPath;
    // WebSockets over HTTP/1.1 only, whatever the library could do.
    phone.alpn = "http/1.1";
    phone.timeout_secs = kHandshakeSeconds;
    g->phoneHost = lws_create_vhost(g->context, &phone);

    struct lws_context_creation_info pair;
    memset(&pair, 0, sizeof pair);
    pair.vhost_name = "pair";
    pair.port = options.pairPort;
    // IPv4 loopback only, an address the library binds on every platform.
    pair.iface = "127.0.0.1";
    pair.options = LWS_SERVER_OPTION_DISABLE_IPV6;
    pair.protocols = kPairProtocols;
    pair.timeout_secs = kHandshakeSeconds;
    g->pairHost = lws_create_vhost(g->context, &pair);

    if (g->phoneHost == nullptr || g->pairHost == nullptr) {
        fprintf(stderr, "ovalix-web: cannot listen on port %d (phones) or 127.0.0.1:%d (pairing)\n",
                options.port, options.pairPort);
        lws_context_destroy(g->context);
        g->context = nullptr;
        return 1;
    }
    fprintf(stderr, "ovalix-web: phones on https://*:%d/, pairing page http://127.0.0.1:%d/\n",
            options.port, options.pairPort);

    while (!g->stop.load()) {
        if (lws_service(g->context, 0) < 0) {
            break;
        }
    }
    lws_context_destroy(g->context);
    g->context = nullptr;
    return 0;
}

void StopBridge()
{
    if (g != nullptr) {
        g->stop.store(true);
        if (g->context != nullptr) {
            lws_cancel_service(g->context);
        }
    }
}
