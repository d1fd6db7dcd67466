// The video renderers the capture graph draws through: a Video Mixing
// Renderer in windowless mode, clipped to the shell's video window and
// letter-boxed. CVMR9 is tried first, CVMR7 is the fallback.
#pragma once
#include "directshow.h"

class CVideoRenderer {
public:
  virtual ~CVideoRenderer() {}
  virtual bool IsActive() = 0;
  virtual HRESULT AddToGraph(IGraphBuilder* graph, HWND videoWindow) = 0;
  virtual HRESULT DropIfUnconnected(IGraphBuilder* graph) = 0;
  virtual HRESULT UpdateVideoPosition(HWND window, const RECT* destination) = 0;
  virtual HRESULT Repaint(HWND window, HDC dc) = 0;
  virtual HRESULT DisplayModeChanged() = 0;
};

class CVMR9 : public CVideoRenderer {
public:
  CVMR9() : windowlessControl(nullptr) {}
  ~CVMR9() override;
  bool IsActive() override;
  HRESULT AddToGraph(IGraphBuilder* graph, HWND videoWindow) override;
  HRESULT DropIfUnconnected(IGraphBuilder* graph) override;
  HRESULT UpdateVideoPosition(HWND window, const RECT* destination) override;
  HRESULT Repaint(HWND window, HDC dc) override;
  HRESULT DisplayModeChanged() override;

  IVMRWindowlessControl9* windowlessControl;
};

class CVMR7 : public CVideoRenderer {
public:
  CVMR7() : windowlessControl(nullptr) {}
  ~CVMR7() override;
  bool IsActive() override;
  HRESULT AddToGraph(IGraphBuilder* graph, HWND videoWindow) override;
  HRESULT DropIfUnconnected(IGraphBuilder* graph) override;
  HRESULT UpdateVideoPosition(HWND window, const RECT* destination) override;
  HRESULT Repaint(HWND window, HDC dc) override;
  HRESULT DisplayModeChanged() override;

  IVMRWindowlessControl* windowlessControl;
};

// Creates a filter of the class, adds it to the graph under the name and
// hands it to *out with a reference of its own.
HRESULT CreateAndAddFilter(IBaseFilter** out, IGraphBuilder* graph, REFCLSID filterClass,
                           LPCWSTR name);
// Takes the filter out of the graph unless one of its input pins is
// connected; *removed tells whether it was taken out.
HRESULT RemoveIfUnconnected(bool* removed, IGraphBuilder* graph, IBaseFilter* filter);
// The filter's first connected input pin, with a reference for the caller.
HRESULT FindConnectedInputPin(IBaseFilter* filter, IPin** out);
