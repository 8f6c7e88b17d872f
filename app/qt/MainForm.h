// TMainForm: the utility's one main window. It holds the drive list, the log box and the
// row of buttons, runs the first-show work and the scan, and answers the procedures
// through the user seam (message boxes, input box, file dialog, list rows, pauses).
#pragma once

#include <QString>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "app/core/DriveListRules.h"
#include "app/core/MainState.h"
#include "app/core/UserSeam.h"

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class TShutDownForm;
class TInformationForm;

namespace qx {

// Where the window's fonts (MS Sans Serif, Courier New, Tahoma) are missing, the closest
// fonts of the system take their place: narrow sans-serif faces keep the captions inside
// their buttons. Called by every window; installs once.
void InstallFontSubstitutes();

// The toolkit's standard error box: error icon, the application title as caption.
void ShowErrorBox(const QString& appTitle, const QString& text);

// Runs a handler body of a window; an error escaping it is shown in the standard error box
// instead of reaching the toolkit's event loop. Every handler of every window runs through
// it. ApplicationTitle() is the caption the main window set (empty before it exists).
void RunGuarded(const QString& appTitle, const std::function<void()>& body);
const QString& ApplicationTitle();

// The typed text of a secret as UTF-8, for the one copy the procedure owns and wipes. The
// text's own characters are overwritten in place, in every string that shares them (the
// input box's line edit and its dialog hand out shared copies), and the intermediate UTF-8
// bytes are wiped before they are freed.
std::string TakeSecretText(QString& text);

// "Description|pattern|Description|pattern" (patterns separated by ';') in the form the
// Qt file dialog takes: "Description (pattern);;...".
QString QtFileFilter(const std::string& filter);

// The drive list: a report-style table with a check box in front of each row. It tells its
// owner about check-box changes (mouse, keyboard or code) and about every click.
class DriveListView : public QTableWidget {
public:
    explicit DriveListView(QWidget* parent);
    std::function<void(int row)> onItemChecked;
    std::function<void()> onClick;

    // Where the check box of a row is drawn, in viewport coordinates.
    QRect checkBoxRect(int row) const;
    // The options a cell is drawn with (font and colours after the cell colouring).
    QStyleOptionViewItem cellOption(int row, int column) const;
    // Adds a row without reporting its (unchecked) box.
    void appendRow(const DriveRow& row);
    void removeAllRows();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void itemChangedSlot(QTableWidgetItem* item);
    CheckBoxEdges edges_;
};

// The invisible square of the RD-mode hot spot.
class HotSpot : public QWidget {
public:
    explicit HotSpot(QWidget* parent);
    std::function<void(Qt::KeyboardModifiers)> onPress;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace qx

class TMainForm : public QWidget, public qx::UserSeam {
public:
    // Runs the creation steps. Throws std::runtime_error with the text to show when the
    // window cannot be created ("Unable to write to %s").
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // The two windows the main window shows modally.
    void setModalForms(TShutDownForm* shutDown, TInformationForm* information);

    qx::MainState& state() { return state_; }
    const QString& appTitle() const { return appTitle_; }

    // True from the showing until the scan that follows the first paint has run.
    bool scanPending() const { return scanPending_; }
    // Told "first-paint" when the first showing has been painted and "list-filled" when
    // the scan that follows it has filled the list (start-up timing).
    std::function<void(const char* milestone)> onMilestone;

    // Handlers.
    void FormShow();
    void ScanBnClick();
    void DownloadCodeBtnClick();
    void SecureEraseBtnClick();
    void SmartInfoBtnClick();
    void CloseBnClick();
    void SpecialTipShapeMouseDown(Qt::KeyboardModifiers modifiers);
    void ListView1ItemChecked(int row);
    void ListView1Click();

    // qx::UserSeam
    bool confirm(const std::string& caption, const std::string& text, qx::BoxIcon icon) override;
    void notice(const std::string& caption, const std::string& text, qx::BoxIcon icon) override;
    std::string askText(const std::string& caption, const std::string& prompt,
                        const std::string& def) override;
    std::string chooseFile(const std::string& filter, const std::string& defaultExt,
                           std::string& initialDir) override;
    void appendLog(const std::string& line) override;
    void clearLog() override;
    int rowCount() override;
    bool rowChecked(int row) override;
    void setRowStatus(int row, const std::string& text) override;
    void clearRows() override;
    void addRow(const qx::DriveRow& row) override;
    void enableScanAndExit(bool on) override;
    void enableActions(bool on) override;
    void pause(uint32_t ms) override;
    void showShutdownPrompt() override;
    void showSmartWindow() override;

    // Controls, named as the window's designer named them.
    QLabel* Image2 = nullptr;
    qx::HotSpot* Shape1 = nullptr;
    QComboBox* DeviceList = nullptr;
    qx::DriveListView* ListView1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* SecureEraseBtn = nullptr;
    QPushButton* SmartInfoBtn = nullptr;
    QPushButton* ScanBn = nullptr;
    QPushButton* DownloadCodeBtn = nullptr;
    QPushButton* CloseBn = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    class Boxes;
    void buildLayout();
    void setCaption(const std::string& caption);
    // First-show work; false when the picture could not be decoded (already reported).
    bool firstShowWork();
    void syncDeviceList();
    void scanWork();
    void runScanAfterPaint();
    void centreOnScreen();
    // Runs a handler body; an error escaping it is shown in the standard error box.
    void guarded(const std::function<void()>& body);
    void runAction(void (*procedure)(qx::MainState&, qx::UserSeam&));

    qx::MainState state_;
    QString appTitle_;
    TShutDownForm* shutDownForm_ = nullptr;
    TInformationForm* informationForm_ = nullptr;
    bool scanPending_ = false;
    bool scanQueued_ = false;
};
