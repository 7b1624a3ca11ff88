#pragma once

#include <optional>
#include <string>

#include "diagram/diagramm.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"

namespace sonvera {

/// The spectrum run's and the sweep's view of the diagram window (nothing happens before
/// it exists).
class DiagramLink : public SpectrumDiagram, public SweepDiagram {
public:
    TDiagramm* window = nullptr;

    bool PrepareDiagram(const std::string& comment, int lastIndex, int freqMin, int freqMax, float& levelMin,
                        float& levelMax) override
    {
        return window == nullptr || window->PrepareDiagram(comment, lastIndex, freqMin, freqMax, levelMin, levelMax);
    }
    void ClearDiagramData() override
    {
        if (window) window->Model().ClearDiagramData();
    }
    void ResetDiagramScales() override
    {
        if (window) window->Model().ResetDiagramScales();
    }
    void SetCurvesShown(bool a, bool b) override
    {
        if (window) window->Model().SetCurvesShown(a, b);
    }
    void SetAxesShown(bool a, bool b) override
    {
        if (window) window->Model().SetAxesShown(a, b);
    }
    void SetLevelRange(float max, float min) override
    {
        if (window) window->Model().SetLevelRange(max, min);
    }
    void SetSecondRange(float max, float min) override
    {
        if (window) window->Model().SetSecondRange(max, min);
    }
    void GetFreqRange(int& min, int& max) const override
    {
        if (window) window->Model().GetFreqRange(min, max);
    }
    void GetLevelRange(float& min, float& max) const override
    {
        if (window) window->Model().GetLevelRange(min, max);
    }
    bool StoreDiagramPoint(const float* values, int mode, int index, float freqHz) override
    {
        return window == nullptr || window->Model().StoreDiagramPoint(values, mode, index, freqHz);
    }
    void SetResultLine(const std::string& text) override
    {
        if (window) window->SetResultLine(text);
    }
    void SetResultLines(const ResultLine& line, char /*language*/) override
    {
        // The window shows the line in its own language, and follows a switch.
        if (window) window->SetResultLine(line.german, line.english);
    }
    std::string GetComment() const override { return window ? window->GetComment() : std::string(); }
    void Repaint() override
    {
        if (window) window->RepaintCurves();
    }
    void Show(bool visible) override
    {
        if (window == nullptr) {
            return;
        }
        window->setVisible(visible);
        if (visible) {
            // A window shown is activated, and the diagram lays itself out only from its
            // first activation on.
            window->activateWindow();
        }
    }
    void SetLimitCurves(const LimitCurves* curves) override
    {
        if (window == nullptr) {
            return;
        }
        if (curves == nullptr) {
            window->Model().ClearLimitCurves();
        } else {
            window->Model().SetLimitCurves(curves->freqHz, curves->lower, curves->upper);
        }
        window->RepaintCurves();
    }
    void SetSecondAxis(const std::string& unit, bool wrapOnExport) override
    {
        if (window) {
            window->Model().Axis2Unit = unit;
            window->Model().WrapCurve2OnExport = wrapOnExport;
            window->Model().LayoutScreen(false);  // the right band fits the labels with their unit
        }
    }
    void SetLevelAxis(bool level) override
    {
        if (window) {
            window->Model().SetXQuantity(level ? XQuantity::LevelDbfs : XQuantity::Frequency);
        }
    }

    /// What the diagram shows now, for the page that leaves it.
    std::optional<DiagramResult> KeepResult() const
    {
        return window ? std::optional<DiagramResult>(window->Model().KeepResult()) : std::nullopt;
    }
    /// Shows what a page kept when it was left; with nothing kept, no result line stands
    /// under the page's curves.
    void ShowKeptResult(const std::optional<DiagramResult>& kept)
    {
        if (window == nullptr) {
            return;
        }
        if (kept) {
            window->ShowResult(*kept);
        } else {
            window->SetResultLine("");
        }
    }
};

}  // namespace sonvera
