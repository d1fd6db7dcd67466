// The work both renderer variants share, written once over the variant's
// configuration and windowless-control interface types (the two control
// interfaces have the methods used here in the same order and signature).
#pragma once
#include "video_renderer.h"

struct VmrVariant {
  const CLSID* filterClass;
  LPCWSTR name;
  const IID* configInterface;
  const IID* controlInterface;
};

enum { VMR_MODE_WINDOWLESS = 2, VMR_ARMODE_LETTERBOX = 1 };

template <typename Config, typename Control>
HRESULT VmrAddToGraph(Control** windowlessControl, const VmrVariant& variant,
                      IGraphBuilder* graph, HWND videoWindow) {
  IBaseFilter* filter = nullptr;
  HRESULT hr = CreateAndAddFilter(&filter, graph, *variant.filterClass, variant.name);
  if (FAILED(hr)) return hr;
  Config* config = nullptr;
  Control* control = nullptr;
  hr = filter->QueryInterface(*variant.configInterface, reinterpret_cast<void**>(&config));
  if (SUCCEEDED(hr)) hr = config->SetRenderingMode(VMR_MODE_WINDOWLESS);
  if (SUCCEEDED(hr))
    hr = filter->QueryInterface(*variant.controlInterface, reinterpret_cast<void**>(&control));
  if (SUCCEEDED(hr)) hr = control->SetVideoClippingWindow(videoWindow);
  if (SUCCEEDED(hr)) hr = control->SetAspectRatioMode(VMR_ARMODE_LETTERBOX);
  if (SUCCEEDED(hr)) {
    control->AddRef();
    *windowlessControl = control;
  } else {
    // An unconfigured renderer left in the graph could take the stream in
    // the next render and open a window of its own: take it out again.
    graph->RemoveFilter(filter);
  }
  if (config) config->Release();
  if (control) control->Release();
  filter->Release();
  return hr;
}

template <typename Control>
HRESULT VmrDropIfUnconnected(Control** windowlessControl, IGraphBuilder* graph) {
  if (!*windowlessControl) return S_OK;
  IBaseFilter* filter = nullptr;
  HRESULT hr = (*windowlessControl)->QueryInterface(IID_IBaseFilter,
                                                    reinterpret_cast<void**>(&filter));
  if (FAILED(hr)) return hr;
  bool removed = false;
  hr = RemoveIfUnconnected(&removed, graph, filter);
  if (removed) {
    (*windowlessControl)->Release();
    *windowlessControl = nullptr;
  }
  filter->Release();
  return hr;
}

template <typename Control>
HRESULT VmrUpdateVideoPosition(Control* windowlessControl, HWND window, const RECT* destination) {
  if (!windowlessControl) return S_OK;
  RECT client;
  if (!destination) {
    GetClientRect(window, &client);
    destination = &client;
  }
  RECT target = *destination;
  return windowlessControl->SetVideoPosition(nullptr, &target);
}

template <typename Control>
void VmrRelease(Control** windowlessControl) {
  if (*windowlessControl) (*windowlessControl)->Release();
  *windowlessControl = nullptr;
}
