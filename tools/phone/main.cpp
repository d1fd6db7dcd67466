// ovalix-phone: stands in for the phone's camera application. It speaks the
// stream protocol over TCP (either direction) or a serial device and streams
// a JPEG test pattern.

#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/time.h>

#include "phone_options.h"
#include "phone_session.h"
#include "phone_transport.h"
#include "service_advert.h"

static volatile sig_atomic_t g_stop = 0;

static void OnStopSignal(int)
{
    g_stop = 1;
}

static void InstallSignals(double seconds)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal;   // no SA_RESTART: waits end early
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGALRM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    if (seconds > 0) {
        itimerval t;
        memset(&t, 0, sizeof t);
        t.it_value.tv_sec = (time_t)seconds;
        t.it_value.tv_usec = (suseconds_t)((seconds - (double)(time_t)seconds) * 1e6);
        if (t.it_value.tv_sec == 0 && t.it_value.tv_usec == 0)
            t.it_value.tv_usec = 1;
        setitimer(ITIMER_REAL, &t, nullptr);
    }
}

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    static PhoneOptions options;
    char error[300];
    int parsed = ParsePhoneOptions(argc, argv, options, error, sizeof error);
    if (parsed != 0) {
        if (parsed < 0)
            fprintf(stderr, "ovalix-phone: %s\n", error);
        fputs(PHONE_USAGE, parsed < 0 ? stderr : stdout);
        return parsed < 0 ? 2 : 0;
    }
    InstallSignals(options.seconds);

    PhoneTransport* transport = nullptr;
    ServiceAdvert advert;
    switch (options.transport) {
    case PHONE_CONNECT:
        transport = CreateTcpClientTransport(options.host, options.port, options.retryMs);
        break;
    case PHONE_LISTEN:
        transport = CreateTcpListenTransport(options.port);
        if (options.advertise && !advert.Register(options.port, 3000))
            fprintf(stderr, "ovalix-phone: could not advertise the service; listening anyway\n");
        break;
    case PHONE_SERIAL:
        transport = CreateSerialTransport(options.device);
        break;
    }

    PhoneSession* session = new PhoneSession(options, *transport);
    session->Run(g_stop);
    const PhoneCounters& c = session->Counters();
    printf("phone frames=%llu links=%llu selects=%llu tables=%llu alives=%llu keepalives=%llu\n",
           (unsigned long long)c.frames, (unsigned long long)c.links,
           (unsigned long long)c.selects, (unsigned long long)c.tables,
           (unsigned long long)c.alives, (unsigned long long)c.keepalives);
    delete session;
    delete transport;
    return 0;
}
