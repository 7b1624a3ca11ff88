#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QListWidget;
class QPushButton;

namespace sonvera {

/// The feature list: the audio system's report, one line per row in a fixed-pitch font,
/// with "Save" writing the rows to "featlist.txt" in the current directory.
class TFeatDlg : public QDialog {
public:
    /// Help page of the dialog.
    static constexpr int kHelpContext = 11;
    /// The file "Save" writes, relative to the current directory.
    static constexpr const char* kFileName = "featlist.txt";

    explicit TFeatDlg(QWidget* parent = nullptr);

    /// Replaces the rows by the given lines.
    void SetReportLines(const std::vector<std::string>& lines);
    /// The rows as shown.
    std::vector<std::string> ReportLines() const;
    /// The caption of language 'D' or 'E'; any other letter changes nothing.
    void SetTexts(char language);
    char Language() const { return language_; }

    /// "Save": writes every row to kFileName, each ended by CR LF, replacing the file.
    /// The line under the buttons (and `onSaved`) names the file's full path, and says
    /// when it could not be written; the rows stay as they are either way.
    void Button1Click();
    /// Called with the line that says where "Save" wrote the list (or failed to).
    std::function<void(const QString&)> onSaved;
    /// Writes the rows to `path`; returns false when the file could not be written.
    bool SaveRows(const std::string& path) const;

    /// Called with the help context when the help button is pressed.
    void SetHelpHandler(std::function<void(int)> handler) { helpHandler_ = std::move(handler); }

private:
    char language_ = 'D';
    std::function<void(int)> helpHandler_;
    QListWidget* SrcList = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* HelpBtn = nullptr;
    QPushButton* Button1 = nullptr;
    QLabel* SaveState = nullptr;
};

}  // namespace sonvera
