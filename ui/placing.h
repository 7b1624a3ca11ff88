#pragma once
// Small helpers of the fixed-layout windows (generator window, sweep settings dialog):
// a widget at a designed position, a caption, a spin button made of two arrow buttons,
// and setting an edit's text without moving the cursor needlessly.

#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QToolButton>
#include <QWidget>

#include <algorithm>

namespace sonvera::placing {

template <typename T>
T* Place(QWidget* parent, const char* name, int x, int y, int w, int h)
{
    auto* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

inline QLabel* PlaceLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int w, int h = 16,
                          Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* label = Place<QLabel>(parent, name, x, y, w, h);
    label->setText(text);
    label->setAlignment(align);
    return label;
}

/// A pair of arrow buttons standing for one spin button; the pair carries the spin
/// button's name, the buttons its name with "Up" and "Down".
inline QWidget* PlaceSpinButtons(QWidget* parent, const char* name, int x, int y, int w, int h, QToolButton*& up,
                                 QToolButton*& down)
{
    auto* pair = Place<QWidget>(parent, name, x, y, w, h);
    up = new QToolButton(pair);
    up->setObjectName(QString::fromLatin1(name) + QStringLiteral("Up"));
    up->setArrowType(Qt::UpArrow);
    up->setGeometry(0, 0, w, h / 2);
    up->setFocusPolicy(Qt::NoFocus);
    down = new QToolButton(pair);
    down->setObjectName(QString::fromLatin1(name) + QStringLiteral("Down"));
    down->setArrowType(Qt::DownArrow);
    down->setGeometry(0, h / 2, w, h - h / 2);
    down->setFocusPolicy(Qt::NoFocus);
    return pair;
}

/// Sets `edit`'s text unless it already shows it, keeping the cursor where the user
/// left it (a refresh while typing must not throw the cursor to the end).
inline void ShowText(QLineEdit* edit, const QString& text)
{
    if (edit->text() == text) {
        return;
    }
    const int cursor = edit->cursorPosition();
    edit->setText(text);
    edit->setCursorPosition(std::min(cursor, static_cast<int>(text.size())));
}

}  // namespace sonvera::placing
