#include "pair_page.h"

#include <string.h>

#include "qr_code.h"

void PhoneUrl(char* out, size_t cap, const char* address, int port, const char* token)
{
    snprintf(out, cap, "https://%s:%d/?t=%s", address, port, token);
}

static bool Add(char* out, size_t cap, const char* text)
{
    size_t used = strlen(out);
    size_t n = strlen(text);
    if (used + n + 1 > cap) {
        return false;
    }
    memcpy(out + used, text, n + 1);
    return true;
}

static const char kPairHead[] =
    "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
    "<title>Connect a phone</title><style>"
    "body{font-family:system-ui,sans-serif;max-width:46rem;margin:2rem auto;padding:0 1rem;"
    "color:#1d232a;background:#f6f7f9}"
    "h1{font-size:1.6rem}.code{display:inline-block;margin:0 1.5rem 1.5rem 0;text-align:center}"
    ".code svg{width:16rem;height:16rem;display:block;background:#fff}"
    ".url{font-family:monospace;font-size:.9rem;word-break:break-all;max-width:16rem}"
    ".fp{font-family:monospace;font-size:.85rem;word-break:break-all}"
    ".state{padding:.6rem .9rem;border-radius:.4rem;background:#e8edf3}"
    "button{font-size:1rem;padding:.5rem 1rem}</style></head><body>"
    "<h1>Connect a phone</h1>"
    "<p>Scan the code with the phone's camera, open the page it shows, and allow the camera. "
    "The phone and this PC must be on the same network.</p>";

bool BuildPairPage(const Credentials& credentials, const HostInfo& host, int port,
                   const char* linkedAddress, char* out, size_t cap)
{
    if (cap == 0) {
        return false;
    }
    out[0] = 0;
    bool ok = Add(out, cap, kPairHead);
    char line[512];
    if (host.addressCount == 0) {
        ok = ok && Add(out, cap,
                       "<p class=\"state\">This PC has no network address: connect it to the "
                       "phone's network and reload this page.</p>");
    }
    for (int i = 0; ok && i < host.addressCount && i < 4; i++) {
        char url[160];
        PhoneUrl(url, sizeof url, host.addresses[i], port, credentials.token);
        ok = Add(out, cap, "<div class=\"code\">") && QrSvg(url, out, cap);
        snprintf(line, sizeof line, "<div class=\"url\">%s</div></div>", url);
        ok = ok && Add(out, cap, line);
    }
    snprintf(line, sizeof line,
             "<p>The phone's browser warns about the page's certificate, which this PC made "
             "itself. Go on only when the certificate's SHA-256 fingerprint is:</p>"
             "<p class=\"fp\">%s</p>",
             credentials.fingerprint);
    ok = ok && Add(out, cap, line);
    if (linkedAddress != nullptr && linkedAddress[0]) {
        snprintf(line, sizeof line,
                 "<p class=\"state\" id=\"state\">A phone is linked from %s.</p>", linkedAddress);
    } else {
        snprintf(line, sizeof line, "<p class=\"state\" id=\"state\">No phone is linked.</p>");
    }
    ok = ok && Add(out, cap, line);
    ok = ok && Add(out, cap,
                   "<form method=\"post\" action=\"/renew\"><p>A new code ends the linked "
                   "phone's link, and the old code no longer works.</p>"
                   "<button type=\"submit\">Make a new code</button></form></body></html>");
    return ok;
}

void PrintPairing(const Credentials& credentials, const HostInfo& host, int port, int pairPort,
                  FILE* stream)
{
    char url[160];
    if (host.addressCount == 0) {
        fprintf(stream, "This PC has no network address: connect it to the phone's network.\n");
    } else {
        PhoneUrl(url, sizeof url, host.addresses[0], port, credentials.token);
        fprintf(stream, "Scan with the phone (same network as this PC):\n\n");
        QrPrint(url, stream);
        fprintf(stream, "\n%s\n", url);
        for (int i = 1; i < host.addressCount; i++) {
            PhoneUrl(url, sizeof url, host.addresses[i], port, credentials.token);
            fprintf(stream, "or  %s\n", url);
        }
    }
    fprintf(stream, "Certificate SHA-256: %s\n", credentials.fingerprint);
    fprintf(stream, "Pairing page on this PC: http://127.0.0.1:%d/\n", pairPort);
}

const char kInUsePage[] =
    "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
    "<meta http-equiv=\"refresh\" content=\"5\"><title>Camera in use</title>"
    "<style>body{font-family:system-ui,sans-serif;margin:2rem;color:#1d232a}</style>"
    "</head><body><h1>In use</h1>"
    "<p>Another phone is this PC's camera right now. This page tries again every few "
    "seconds and opens the camera page once that phone has left.</p></body></html>";
