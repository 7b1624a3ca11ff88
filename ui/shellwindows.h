#pragma once
// Windows whose contents come later: each exists once from the start, in its place of
// the creation order, with its class name as object name and its language routine, so
// the main window can create, show, dock and translate them already.

#include <QDialog>

class QLabel;

namespace sonvera {

/// A dialog that so far only has its name, caption and (empty) language routine.
class ShellDialog : public QDialog {
public:
    ShellDialog(const char* className, const char* caption, QWidget* parent = nullptr);
    /// The window's language routine; "D" or "E", any other letter changes nothing.
    virtual void SetTexts(char language);
    char Language() const { return language_; }

private:
    char language_ = 'D';
};

/// The about box.
class TAboutBox : public ShellDialog {
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    void SetTexts(char language) override;

private:
    QLabel* text_;
};

}  // namespace sonvera
