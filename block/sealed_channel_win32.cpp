#include "sealed_channel.h"

const char* const CAMERA_SOCKET_PATH = "";

bool FetchSealedObjects(SealedObjects&)
{
    return false;
}

void CloseSealedObjects(SealedObjects&) {}

CSealedChannel::CSealedChannel() : impl(nullptr) {}
CSealedChannel::~CSealedChannel() {}
bool CSealedChannel::Start(const SealedObjects&)
{
    return false;
}
void CSealedChannel::Stop() {}
