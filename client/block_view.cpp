#include "block_view.h"

#include <string.h>

namespace {

// How often a reader without a service looks at the stored table again.
const uint32_t STORED_CHECK_MS = 1000;

bool SameFormats(const FormatOffer& a, const FormatOffer& b)
{
    if (a.count != b.count || a.final != b.final)
        return false;
    for (uint32_t i = 0; i < a.count; ++i)
        if (a.formats[i].width != b.formats[i].width ||
            a.formats[i].height != b.formats[i].height || a.formats[i].fps != b.formats[i].fps)
            return false;
    return true;
}

// The service's table and requested size; false when the table cannot be
// read whole (a writer that never stops changing it).
bool ReadLive(const CCameraClient& client, FormatOffer& out)
{
    FormatTable table;
    uint32_t width = 0, height = 0;
    if (!client.ReadFormats(table))
        return false;
    client.ReadRequestedSize(width, height);
    OfferFromTable(&table, OFFER_LIVE, width, height, out);
    return true;
}

void ReadWithoutService(FormatOffer& out)
{
    FormatTable table;
    if (!ReadStoredTable(table)) {
        OfferFromTable(nullptr, OFFER_DEFAULT, 0, 0, out);
        return;
    }
    const FormatEntry& last = table.entries[table.count - 1];
    OfferFromTable(&table, OFFER_STORED, EntryWidth(last), EntryHeight(last), out);
}

}  // namespace

void OfferFromTable(const FormatTable* table, OfferSource source, uint32_t requestedWidth,
                    uint32_t requestedHeight, FormatOffer& out)
{
    if (table == nullptr) {
        out.formats[0] = DEFAULT_VIDEO_FORMAT;
        out.count = 1;
    } else {
        out.count = UsableFormats(*table, out.formats);
    }
    // Without a size asked for, the service sends the table's last entry.
    int found = FindFormat(out.formats, out.count, requestedWidth, requestedHeight);
    out.preferred = found >= 0 ? (uint32_t)found : out.count - 1;
    out.source = source;
    out.final = source == OFFER_LIVE && table != nullptr && IsPhoneTable(*table);
}

void FormatsToOffer(CCameraClient& client, FormatOffer& out)
{
    if (!client.Attach())
        ReadWithoutService(out);
    else if (!ReadLive(client, out))
        OfferFromTable(nullptr, OFFER_LIVE, 0, 0, out);
}

CBlockView::CBlockView() : lastStoredReadMs(0), readOnce(false)
{
    memset(&state, 0, sizeof state);
    OfferFromTable(nullptr, OFFER_DEFAULT, 0, 0, state.offer);
}

void CBlockView::Update(CCameraClient& client, uint32_t nowMs)
{
    bool attached = client.IsAttached();
    BlockViewState next;
    Read(next);
    bool haveOffer = false;
    if (attached) {
        haveOffer = ReadLive(client, next.offer);
        next.linkState = LINK_IDLE;
        client.ReadLinkState(next.linkState);
        client.ReadRequestedSize(next.requestedWidth, next.requestedHeight);
    } else {
        // The stored table changes only when a service stops: a look a
        // second is plenty, and at once when the service has just gone.
        haveOffer = !readOnce || next.attached || nowMs - lastStoredReadMs >= STORED_CHECK_MS;
        if (haveOffer) {
            lastStoredReadMs = nowMs;
            ReadWithoutService(next.offer);
        }
        next.linkState = LINK_IDLE;
        next.requestedWidth = next.requestedHeight = 0;
    }
    readOnce = readOnce || haveOffer;
    next.attached = attached;
    std::lock_guard<std::mutex> hold(lock);
    if (haveOffer && !SameFormats(next.offer, state.offer))
        ++next.generation;
    state = next;
}

void CBlockView::Read(BlockViewState& out) const
{
    std::lock_guard<std::mutex> hold(lock);
    out = state;
}

uint32_t CBlockView::Generation() const
{
    std::lock_guard<std::mutex> hold(lock);
    return state.generation;
}
