#pragma once
// The loop every consumer of the camera runs, written once. One call, Next,
// gives the next thing to show within a time-out: a live frame, a placeholder
// of a given kind, or nothing yet. The feed attaches to the shared camera
// block and attaches again after a restart of the service, asks the service
// for this consumer's picture size, paces the placeholder, refuses frames
// that are not whole JPEGs, and counts what went out. The consumer only turns
// a frame or a placeholder into its own kind of sample and says whether it
// went out (Shown) or not (Dropped).
//
// Asking for a size. The requested size in the block is one word pair for
// every consumer, and a service writes it once at its start: 0 x 0 (nobody
// asks) or the last entry of the format table it loaded. The feed writes its
// wanted size when it is set, after every new attachment, and whenever the
// block holds one of those two start-up values instead: so a reader that
// holds the objects across a restart of the service (on Windows the new run
// opens the very mapping the reader holds, and zeroes it) asks again within
// ASK_CHECK_MS. A size another consumer wrote is left alone, so two
// consumers that want different sizes never take turns; the one that asked
// last wins, except over the table's last entry written into an empty ring,
// which reads as a service that has just started.
//
// A consumer that can show only its own size (it drops the frames of any
// other) would then see placeholders for as long as another consumer holds
// its size. So a feed that has shown no live frame for STARVED_ASK_MS while
// the phone streams asks for its size once more, but only when the requested
// size has not changed for STARVED_ASK_MS either: however many starving
// consumers there are, the phone is asked for a new size at most once in
// that time, and each size is streamed for at least that long.
//
// Frames of a size the format table does not list are refused like damaged
// ones: a frame's header, which anyone able to write the block can forge,
// never sets the size a consumer allocates for.
//
// The feed also keeps the block view (block_view.h) up to date at every
// look at the requested size, and every ASK_CHECK_MS while there is no
// service, so a consumer's other threads read the formats, the link state
// and the requested size from View() without touching the block.
//
// Threads: one streaming thread calls Start, Next, Shown, Dropped and
// Client; Cancel, Resume, SetWantedSize, SetPacing, View and the counters'
// calls may come from any thread.

#include <stdint.h>

#include <atomic>
#include <mutex>

#include "block_view.h"
#include "camera_client.h"
#include "named_objects.h"
#include "placeholder_pacing.h"
#include "size_request.h"
#include "video_formats.h"

enum FeedResult {
    FEED_NOTHING = 0,      // nothing to show within the time-out
    FEED_LIVE = 1,         // a whole phone frame, in the caller's CameraFrame
    FEED_PLACEHOLDER = 2,  // show the placeholder of FeedItem::placeholder
    FEED_CANCELLED = 3,    // Cancel() was called; every Next says so until Resume()
};

struct FeedItem {
    PlaceholderKind placeholder;  // FEED_PLACEHOLDER: why there is nothing live
    uint32_t width;               // FEED_LIVE: the picture size the JPEG declares
    uint32_t height;
};

const uint32_t FEED_LATENCY_BUCKETS = 1000;  // 1 ms each; the last holds the rest
const uint32_t ASK_CHECK_MS = 100;           // how often the requested size is checked

struct FeedCounts {
    uint64_t live;          // phone frames shown
    uint64_t placeholders;  // placeholders shown
    uint64_t dropped;       // phone frames the consumer could not show
    uint64_t damaged;       // phone frames refused: not whole JPEGs, or of a size in no table
    uint32_t firstStamp;    // phone stamps of the first and last frame shown
    uint32_t lastStamp;
};

class CCameraFeed {
public:
    // backlog: frames taken at once, oldest first, and handed out one per
    // Next; 1 takes only the newest. Once the newest is handed out, older
    // ones are gone (the rule for several readers: newest first).
    explicit CCameraFeed(uint32_t backlog = 1);
    ~CCameraFeed();
    bool Ready() const { return backlog == 1 || frames != nullptr; }

    // Begins a stream: attaches when it can and starts the pacing, so that the
    // first Next gives a live frame when the phone streams (never one the
    // ring kept from before an idle time), the placeholder at once otherwise.
    void Start();
    // For a consumer that offers formats before it streams: attaches when it
    // can (one try a second) and reads the block view again.
    bool Attach();
    // Lets go of the objects; the view then says what there is without them.
    void Detach();
    // Waits up to ms unless cancelled, for a consumer with nothing to show.
    void Pause(uint32_t ms) { wake.Sleep(ms); }

    FeedResult Next(uint32_t timeoutMs, CameraFrame& into, FeedItem& item);
    // What became of the item of the last Next: it went out, or (a live
    // frame) the consumer could not turn it into a sample.
    void Shown();
    void Dropped();

    // Makes a waiting Next, and every later one, return FEED_CANCELLED at once.
    void Cancel() { wake.Wake(); }
    void Resume() { wake.Clear(); }

    // The picture size to ask the service for; 0 x 0 asks for nothing. Each
    // call asks again at the next Next.
    void SetWantedSize(uint32_t width, uint32_t height);
    // Like SetWantedSize for a size nobody chose (a consumer's default): it
    // is not written while nobody asks and the service sends it anyway, so
    // that starting to read never makes the phone link again.
    void PreferSize(uint32_t width, uint32_t height);
    void SetPacing(uint32_t stallMs, uint32_t periodMs);
    void ReadCounts(FeedCounts& out);
    // Milliseconds from the phone's send stamp to Shown(), one bucket each.
    void ReadLatency(uint32_t (&buckets)[FEED_LATENCY_BUCKETS]);
    void ResetCounters();

    // The block's other fields (formats, link state), for the streaming thread.
    const CCameraClient& Client() const { return client; }
    // The same, as last read, for any thread.
    const CBlockView& View() const { return view; }

private:
    CCameraFeed(const CCameraFeed&);
    CCameraFeed& operator=(const CCameraFeed&);

    FeedResult TakeLive(uint32_t now, uint32_t timeoutMs, CameraFrame& into, FeedItem& item);
    bool HandOut(CameraFrame& into, FeedItem& item);
    FeedResult HandOutPending(CameraFrame& into, FeedItem& item);
    void Look(uint32_t now);
    void AskForSize(uint32_t now, bool newObjects);
    bool ReadSizes(FormatTable& table);
    bool ListedSize(uint32_t width, uint32_t height);
    void ApplyPacing();

    CCameraClient client;
    CBlockView view;
    CWakeSignal wake;
    PlaceholderPacing pacing;
    CameraFrame* frames;  // the backlog, when larger than 1
    uint32_t backlog;
    uint32_t pending;  // frames[next..pending) still to hand out
    uint32_t next;
    bool caughtUp;  // the first take after an attachment is the newest alone
    FeedResult last;
    uint32_t lastStamp;
    uint32_t attachments;
    uint32_t lastAskCheckMs;
    VideoFormat sizes[FORMAT_MAX_ENTRIES];  // the table's sizes, read with the requested size
    uint32_t sizeCount;
    uint32_t sizesAttachment;  // the attachment the sizes were read from
    SizeAskState ask;

    std::atomic<uint32_t> wanted;  // width | height << 16
    std::atomic<bool> wantedChanged;
    std::atomic<bool> wantedPreferred;  // PreferSize rather than SetWantedSize
    std::atomic<uint32_t> stallMs;
    std::atomic<uint32_t> periodMs;

    std::mutex countersLock;
    FeedCounts counts;
    uint32_t latencyMs[FEED_LATENCY_BUCKETS];
};
