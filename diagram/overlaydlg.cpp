#include "diagram/overlaydlg.h"

#include <QColorDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "diagram/diagrammodel.h"
#include "diagram/diagramrenderer.h"

namespace sonvera {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;

QIcon Swatch(Colour c)
{
    QPixmap pixmap(16, 12);
    pixmap.fill(QColor(ToQRgb(c)));
    return QIcon(pixmap);
}

}  // namespace

TOverlayDlg::TOverlayDlg(DiagramModel& model, QWidget* parent) : QDialog(parent), model_(model)
{
    setObjectName(QStringLiteral("TOverlayDlg"));
    setProperty("helpContext", 16);
    setModal(false);
    OverlayList = new QListWidget(this);
    OverlayList->setObjectName(QStringLiteral("OverlayList"));
    OverlayList->setMinimumWidth(280);
    OverlayList->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    const auto button = [this](const char* name) {
        auto* b = new QPushButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    ColourBut = button("ColourBut");
    ReferenceBut = button("ReferenceBut");
    RemoveBut = button("RemoveBut");
    CloseBut = button("CloseBut");
    auto* buttons = new QVBoxLayout;
    for (QPushButton* b : {ColourBut, ReferenceBut, RemoveBut}) {
        buttons->addWidget(b);
    }
    buttons->addStretch();
    buttons->addWidget(CloseBut);
    auto* row = new QHBoxLayout(this);
    row->addWidget(OverlayList, 1);
    row->addLayout(buttons);

    pickColour = [this](Colour current) -> std::optional<Colour> {
        const QColor c = QColorDialog::getColor(QColor(ToQRgb(current)), this);
        if (!c.isValid()) {
            return std::nullopt;
        }
        return FromQRgb(c.rgb());
    };
    connect(ColourBut, &QPushButton::clicked, this, &TOverlayDlg::ColourClick);
    connect(ReferenceBut, &QPushButton::clicked, this, &TOverlayDlg::ReferenceClick);
    connect(RemoveBut, &QPushButton::clicked, this, &TOverlayDlg::RemoveClick);
    connect(CloseBut, &QPushButton::clicked, this, &QDialog::hide);
    connect(OverlayList, &QListWidget::itemChanged, this, &TOverlayDlg::ItemChanged);
    SetTexts('D');
}

void TOverlayDlg::SetTexts(char language)
{
    if (language != 'D' && language != 'E') {
        return;
    }
    language_ = language;
    const bool de = language == 'D';
    setWindowTitle(de ? QStringLiteral("Überlagerungen") : QStringLiteral("Overlays"));
    ColourBut->setText(de ? QStringLiteral("Farbe ...") : QStringLiteral("Colour ..."));
    ReferenceBut->setText(de ? QStringLiteral("Referenz") : QStringLiteral("Reference"));
    RemoveBut->setText(de ? QStringLiteral("Entfernen") : QStringLiteral("Remove"));
    CloseBut->setText(QStringLiteral("close"));
    OverlayList->setToolTip(de ? QStringLiteral("Haken: gezeigt; Doppelklick: Name ändern")
                               : QStringLiteral("Tick: shown; double click: rename"));
    Refresh();
}

void TOverlayDlg::Refresh()
{
    const std::uint64_t selected = SelectedId();
    filling_ = true;
    OverlayList->clear();
    const OverlayPage& page = model_.Overlays.Page(model_.Page());
    for (const Overlay& o : page.overlays) {
        const bool reference = o.id == page.referenceId;
        auto* item = new QListWidgetItem(Swatch(o.colour), QString::fromStdString(o.name), OverlayList);
        item->setData(kIdRole, QVariant::fromValue<qulonglong>(o.id));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        item->setCheckState(o.visible ? Qt::Checked : Qt::Unchecked);
        QFont font = item->font();
        font.setBold(reference);
        item->setFont(font);
        if (reference) {
            item->setToolTip(language_ == 'D' ? QStringLiteral("Referenz") : QStringLiteral("Reference"));
        }
        if (o.id == selected) {
            OverlayList->setCurrentItem(item);
        }
    }
    filling_ = false;
    const bool any = OverlayList->count() > 0;
    for (QPushButton* b : {ColourBut, ReferenceBut, RemoveBut}) {
        b->setEnabled(any);
    }
}

std::uint64_t TOverlayDlg::SelectedId() const
{
    const QListWidgetItem* item = OverlayList->currentItem();
    return item == nullptr ? 0 : item->data(kIdRole).toULongLong();
}

void TOverlayDlg::Report(const OverlayResult& result)
{
    Refresh();
    if (onChanged) {
        onChanged(OverlayMessage(result, language_));
    }
}

void TOverlayDlg::ItemChanged(QListWidgetItem* item)
{
    if (filling_ || item == nullptr) {
        return;
    }
    const std::uint64_t id = item->data(kIdRole).toULongLong();
    const int page = model_.Page();
    OverlayResult r = model_.Overlays.SetVisible(page, id, item->checkState() == Qt::Checked);
    const OverlayResult named = model_.Overlays.SetName(page, id, item->text().toStdString());
    Report(r ? named : r);
}

void TOverlayDlg::ColourClick()
{
    const std::uint64_t id = SelectedId();
    const Overlay* o = model_.Overlays.Find(model_.Page(), id);
    if (o == nullptr || !pickColour) {
        return;
    }
    if (const auto c = pickColour(o->colour)) {
        Report(model_.Overlays.SetColour(model_.Page(), id, *c));
    }
}

void TOverlayDlg::ReferenceClick()
{
    const std::uint64_t id = SelectedId();
    if (id == 0) {
        return;
    }
    // The reference again: no reference any more.
    const bool same = model_.Overlays.Page(model_.Page()).referenceId == id;
    OverlayResult r = model_.Overlays.SetReference(model_.Page(), same ? 0 : id);
    if (!model_.DifferenceShown()) {
        model_.ResetZoom();
    }
    Report(r);
}

void TOverlayDlg::RemoveClick()
{
    const std::uint64_t id = SelectedId();
    if (id == 0) {
        return;
    }
    const bool wasDifference = model_.DifferenceShown();
    OverlayResult r = model_.Overlays.Remove(model_.Page(), id);
    if (wasDifference && !model_.DifferenceShown()) {
        model_.ResetZoom();
    }
    if (model_.MarkerA.ref.overlay == id || model_.MarkerB.ref.overlay == id) {
        model_.ClearMarkers();
    }
    Report(r);
}

}  // namespace sonvera
