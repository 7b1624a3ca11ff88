#pragma once
// The diagrams of the command-line tool's runs: the model alone, nothing shown.

#include <string>

#include "diagram/diagrammodel.h"
#include "measure/spectrumrun.h"
#include "measure/sweeprun.h"

namespace sonvera {

/// What every run's diagram does, passed to the model: `Diagram` is the run's interface.
template <class Diagram>
class ModelBackedDiagram : public Diagram {
public:
    DiagramModel model;

    bool PrepareDiagram(const std::string& c, int last, int fmin, int fmax, float& lmin, float& lmax) override
    {
        return model.PrepareDiagram(c, last, fmin, fmax, lmin, lmax);
    }
    void ClearDiagramData() override { model.ClearDiagramData(); }
    void ResetDiagramScales() override { model.ResetDiagramScales(); }
    void SetCurvesShown(bool a, bool b) override { model.SetCurvesShown(a, b); }
    void SetAxesShown(bool a, bool b) override { model.SetAxesShown(a, b); }
    void SetLevelRange(float max, float min) override { model.SetLevelRange(max, min); }
    void GetLevelRange(float& min, float& max) const override { model.GetLevelRange(min, max); }
    bool StoreDiagramPoint(const float* v, int mode, int index, float f) override
    {
        return model.StoreDiagramPoint(v, mode, index, f);
    }
    void SetResultLine(const std::string& t) override { model.SetResultLine(t); }
    std::string GetComment() const override { return model.GetComment(); }
    void Repaint() override {}
    void Show(bool) override {}
};

/// The diagram of a spectrum run.
class ModelDiagram : public ModelBackedDiagram<SpectrumDiagram> {
public:
    void GetFreqRange(int& min, int& max) const override { model.GetFreqRange(min, max); }
};

/// The diagram of a sweep run (stepped or logarithmic).
class SweepModelDiagram : public ModelBackedDiagram<SweepDiagram> {
public:
    void SetSecondRange(float max, float min) override { model.SetSecondRange(max, min); }
    void SetLimitCurves(const LimitCurves* curves) override
    {
        if (curves == nullptr) {
            model.ClearLimitCurves();
        } else {
            model.SetLimitCurves(curves->freqHz, curves->lower, curves->upper);
        }
    }
    void SetSecondAxis(const std::string& unit, bool wrap) override
    {
        model.Axis2Unit = unit;
        model.WrapCurve2OnExport = wrap;
    }
    void SetLevelAxis(bool level) override
    {
        model.SetXQuantity(level ? XQuantity::LevelDbfs : XQuantity::Frequency);
    }
};

}  // namespace sonvera
