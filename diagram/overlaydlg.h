#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <optional>

#include "config/settings.h"
#include "diagram/overlaystore.h"

class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace sonvera {

class DiagramModel;

/// The overlays of the page shown: each with its visibility (the check box), its name
/// (edited in place), its colour, the reference switch and removal. Not modal; every
/// change goes to the model's store at once and `onChanged` lets the diagram redraw.
class TOverlayDlg : public QDialog {
public:
    explicit TOverlayDlg(DiagramModel& model, QWidget* parent = nullptr);

    /// Shows the store's overlays of the model's page again.
    void Refresh();
    /// 'D' German, 'E' English; other letters change nothing.
    void SetTexts(char language);

    /// The colour picker; replaceable for tests (the default opens QColorDialog).
    std::function<std::optional<Colour>(Colour current)> pickColour;
    /// After every change: the diagram redraws (and shows a failure to save).
    std::function<void(const std::string& problem)> onChanged;

    void ColourClick();
    void ReferenceClick();
    void RemoveClick();

private:
    std::uint64_t SelectedId() const;
    void ItemChanged(QListWidgetItem* item);
    void Report(const OverlayResult& result);

    DiagramModel& model_;
    char language_ = 'D';
    bool filling_ = false;
    QListWidget* OverlayList = nullptr;
    QPushButton* ColourBut = nullptr;
    QPushButton* ReferenceBut = nullptr;
    QPushButton* RemoveBut = nullptr;
    QPushButton* CloseBut = nullptr;
};

}  // namespace sonvera
