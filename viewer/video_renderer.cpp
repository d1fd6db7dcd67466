// The two renderer variants: the same steps (vmr_variant.h) over the VMR-9
// and the VMR-7 interfaces.
#include "video_renderer.h"
#include "vmr_variant.h"

namespace {
const VmrVariant VMR9_VARIANT = {&CLSID_VideoMixingRenderer9, L"VMR-9", &IID_IVMRFilterConfig9,
                                 &IID_IVMRWindowlessControl9};
const VmrVariant VMR7_VARIANT = {&CLSID_VideoMixingRenderer, L"VMR-7", &IID_IVMRFilterConfig,
                                 &IID_IVMRWindowlessControl};
}  // namespace

CVMR9::~CVMR9() { VmrRelease(&windowlessControl); }
bool CVMR9::IsActive() { return windowlessControl != nullptr; }
HRESULT CVMR9::AddToGraph(IGraphBuilder* graph, HWND videoWindow) {
  return VmrAddToGraph<IVMRFilterConfig9>(&windowlessControl, VMR9_VARIANT, graph, videoWindow);
}
HRESULT CVMR9::DropIfUnconnected(IGraphBuilder* graph) {
  return VmrDropIfUnconnected(&windowlessControl, graph);
}
HRESULT CVMR9::UpdateVideoPosition(HWND window, const RECT* destination) {
  return VmrUpdateVideoPosition(windowlessControl, window, destination);
}
HRESULT CVMR9::Repaint(HWND window, HDC dc) {
  return windowlessControl ? windowlessControl->RepaintVideo(window, dc) : S_OK;
}
HRESULT CVMR9::DisplayModeChanged() {
  return windowlessControl ? windowlessControl->DisplayModeChanged() : S_OK;
}

CVMR7::~CVMR7() { VmrRelease(&windowlessControl); }
bool CVMR7::IsActive() { return windowlessControl != nullptr; }
HRESULT CVMR7::AddToGraph(IGraphBuilder* graph, HWND videoWindow) {
  return VmrAddToGraph<IVMRFilterConfig>(&windowlessControl, VMR7_VARIANT, graph, videoWindow);
}
HRESULT CVMR7::DropIfUnconnected(IGraphBuilder* graph) {
  return VmrDropIfUnconnected(&windowlessControl, graph);
}
HRESULT CVMR7::UpdateVideoPosition(HWND window, const RECT* destination) {
  return VmrUpdateVideoPosition(windowlessControl, window, destination);
}
HRESULT CVMR7::Repaint(HWND window, HDC dc) {
  return windowlessControl ? windowlessControl->RepaintVideo(window, dc) : S_OK;
}
HRESULT CVMR7::DisplayModeChanged() {
  return windowlessControl ? windowlessControl->DisplayModeChanged() : S_OK;
}
