#pragma once
// Windows whose contents come later: each exists once from the start, in its place of
// the creation order, with its class name as object name and its language routine, so
// the main window can create, show, dock and translate them already.

#include <QDialog>
#include <QWidget>

#include <string>

#include "config/settings.h"

class QLabel;

namespace sonvera {

class ProfileFile;

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

/// The sweep settings dialog.
class Twobbeldlg : public ShellDialog {
public:
    explicit Twobbeldlg(QWidget* parent = nullptr) : ShellDialog("Twobbeldlg", "Wobbeln", parent) {}
};

/// The generator window: a tool window that docks over the main window's generator
/// group. Keeps the generator settings (section GEN) from creation to destruction.
class TWavegen : public QWidget {
public:
    TWavegen(GeneratorSettings& settings, ProfileFile& profile, QWidget* parent = nullptr);
    ~TWavegen() override;
    void SetGeneratorTexts(char language);
    /// Stops the generator output.
    void GstopClick() {}
    /// Keeps the window above the main window while the generator page is current.
    void SetStayOnTop(bool onTop);
    /// The output error prefix of the current language.
    const std::string& OutputErrorPrefix() const { return errorPrefix_; }

private:
    GeneratorSettings& settings_;
    ProfileFile& profile_;
    std::string errorPrefix_ = "Fehler bei Frequenzausgabe (";
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
