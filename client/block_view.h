#pragma once
// What every consumer offers and shows of the block besides frames: the
// formats, the link state and the requested size. The formats to offer are
// decided by one function, so that the capture filter, the Media Foundation
// source, ovalixsrc and the PipeWire camera agree in every case:
//
// - a service runs: the usable entries of the block's table, starting with
//   the size the block asks for (another reader's choice, or the phone's);
// - no service, but a stored table a service would take: that table,
//   starting with its last entry, which a starting service asks for;
// - neither: the service's default entry.
//
// The formats are final only when they are a phone's table in a running
// service's block: then they are the sizes the phone will send. Otherwise a
// consumer that can take any size may offer more after them.
//
// CBlockView keeps the last reading for consumers whose other threads need
// it (caps queries, format listings): the feed updates it on its own thread
// and anyone reads a copy. Its generation changes whenever the formats on
// offer change, so a consumer compares one number instead of two lists.

#include <stdint.h>

#include <mutex>

#include "camera_client.h"
#include "video_formats.h"

enum OfferSource {
    OFFER_LIVE = 0,     // the running service's block
    OFFER_STORED = 1,   // no service: the table a service would start with
    OFFER_DEFAULT = 2,  // no service and no stored table: the default entry
};

struct FormatOffer {
    VideoFormat formats[FORMAT_MAX_ENTRIES];
    uint32_t count;      // 1 to FORMAT_MAX_ENTRIES
    uint32_t preferred;  // index of the format to start with
    OfferSource source;
    bool final;  // a phone's table from a running service
};

// The offer for a table (null: none), read from source, with the size the
// block asks for (a stored table asks for its last entry).
void OfferFromTable(const FormatTable* table, OfferSource source, uint32_t requestedWidth,
                    uint32_t requestedHeight, FormatOffer& out);

// The formats to offer now: the block's through client (attaching when it
// can), else the stored table, else the default entry.
void FormatsToOffer(CCameraClient& client, FormatOffer& out);

struct BlockViewState {
    FormatOffer offer;
    uint32_t generation;  // changes whenever the offered formats change
    bool attached;
    uint32_t linkState;  // LINK_IDLE while detached
    uint32_t requestedWidth;
    uint32_t requestedHeight;
};

class CBlockView {
public:
    CBlockView();
    // From the thread that owns client: reads the block (or, detached, the
    // stored table at most once a second) and publishes what it found.
    void Update(CCameraClient& client, uint32_t nowMs);
    // From any thread.
    void Read(BlockViewState& out) const;
    uint32_t Generation() const;

private:
    CBlockView(const CBlockView&);
    CBlockView& operator=(const CBlockView&);

    mutable std::mutex lock;
    BlockViewState state;
    uint32_t lastStoredReadMs;
    bool readOnce;
};
