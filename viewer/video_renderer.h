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

// What tells the two variants apart besides their interface types.
struct VmrVariant {
    const CLSID* filterClass;
    LPCWSTR name;
    const IID* configInterface;
    const IID* controlInterface;
};
inline constexpr VmrVariant VMR9_VARIANT = {&CLSID_VideoMixingRenderer9, L"VMR-9",
                                            &IID_IVMRFilterConfig9, &IID_IVMRWindowlessControl9};
inline constexpr VmrVariant VMR7_VARIANT = {&CLSID_VideoMixingRenderer, L"VMR-7",
                                            &IID_IVMRFilterConfig, &IID_IVMRWindowlessControl};

// Both variants in one definition: the two windowless-control interfaces
// have the methods used here in the same order and with the same arguments.
// Each instantiation derives directly from CVideoRenderer.
template <typename Config, typename Control, const VmrVariant* Variant>
class CVmrRenderer : public CVideoRenderer {
public:
    CVmrRenderer() : windowlessControl(nullptr) {}
    ~CVmrRenderer() override;
    bool IsActive() override;
    HRESULT AddToGraph(IGraphBuilder* graph, HWND videoWindow) override;
    HRESULT DropIfUnconnected(IGraphBuilder* graph) override;
    HRESULT UpdateVideoPosition(HWND window, const RECT* destination) override;
    HRESULT Repaint(HWND window, HDC dc) override;
    HRESULT DisplayModeChanged() override;

    Control* windowlessControl;
};

using CVMR9 = CVmrRenderer<IVMRFilterConfig9, IVMRWindowlessControl9, &VMR9_VARIANT>;
using CVMR7 = CVmrRenderer<IVMRFilterConfig, IVMRWindowlessControl, &VMR7_VARIANT>;
extern template class CVmrRenderer<IVMRFilterConfig9, IVMRWindowlessControl9, &VMR9_VARIANT>;
extern template class CVmrRenderer<IVMRFilterConfig, IVMRWindowlessControl, &VMR7_VARIANT>;

// Creates a filter of the class, adds it to the graph under the name and
// hands it to *out with a reference of its own.
HRESULT CreateAndAddFilter(IBaseFilter** out, IGraphBuilder* graph, REFCLSID filterClass,
                           LPCWSTR name);
// Takes the filter out of the graph unless one of its input pins is
// connected; *removed tells whether it was taken out.
HRESULT RemoveIfUnconnected(bool* removed, IGraphBuilder* graph, IBaseFilter* filter);
// The filter's first connected input pin, with a reference for the caller.
HRESULT FindConnectedInputPin(IBaseFilter* filter, IPin** out);
