// The main window on the simulated bench: layout, the scan and the buttons, the drive
// list's single-check rule and colouring, the hot spot, the first-show pictures, closing
// during an action, the user seam's dialogs, and one firmware update through the real
// dialogs.
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <stdexcept>

#include "QXLib/DbgLog.h"
#include "QXLib/Smart.h"
#include "QXLib/Transport.h"
#include "app/qt/MainForm.h"
#include "gui/GuiTestSupport.h"
#include "app/qt/InformationForm.h"
#include "app/qt/ShutDownForm.h"

using qx::guitest::BenchScope;
using qx::guitest::ModalPoller;
namespace sim = qx::sim;

namespace {

const QString kDefaultTitle = QStringLiteral("Quorvex t74 Toolbox A.1.19(RC2)");

// The three windows, created as the program creates them.
struct Windows {
    std::unique_ptr<TMainForm> main;
    TShutDownForm* shutDown = nullptr;
    std::unique_ptr<TInformationForm> information;

    Windows() {
        main = std::make_unique<TMainForm>();
        shutDown = new TShutDownForm(main.get());
        information = std::make_unique<TInformationForm>();
        main->setModalForms(shutDown, information.get());
    }
    ~Windows() {
        information.reset();
        main.reset();
    }
};

std::unique_ptr<sim::SimBench> demoBench(const QString& exePath) {
    auto bench = sim::SimBench::demo();
    bench->setup().executablePath = exePath.toStdString();
    return bench;
}

// Only a rotating hard disk: the scan accepts nothing.
std::unique_ptr<sim::SimBench> benchWithoutDrives(const QString& exePath) {
    sim::SimBenchSpec setup;
    sim::SimDiskSpec disk;
    disk.path = "\\\\?\\ide#diskhdd_st1000#5&1a2b3c4d&0&3.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
    disk.drive.controller = sim::ControllerKind::HardDisk;
    disk.drive.rotationRate = 7200;
    setup.disks.push_back(disk);
    setup.executablePath = exePath.toStdString();
    return std::make_unique<sim::SimBench>(setup);
}

// Shows the window and lets its events run until the scan that follows the first paint is
// done (or did not start: a picture error stops the showing).
void showAndScan(TMainForm& m) {
    m.show();
    for (int round = 0; round < 1000 && m.scanPending(); ++round) QCoreApplication::processEvents();
}

QString cell(TMainForm& w, int row, int column) {
    QTableWidgetItem* item = w.ListView1->item(row, column);
    return item ? item->text() : QStringLiteral("<none>");
}

void clickBox(TMainForm& w, int row) {
    const QRect box = w.ListView1->checkBoxRect(row);
    QVERIFY(box.isValid());
    QTest::mouseClick(w.ListView1->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
}

std::vector<bool> checks(TMainForm& w) {
    std::vector<bool> out;
    for (int r = 0; r < w.rowCount(); ++r) out.push_back(w.rowChecked(r));
    return out;
}

int pixelsLike(const QImage& image, const QRect& area, QRgb colour) {
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (std::abs(qRed(p) - qRed(colour)) < 40 && std::abs(qGreen(p) - qGreen(colour)) < 40 &&
                std::abs(qBlue(p) - qBlue(colour)) < 40)
                ++n;
        }
    return n;
}

const char* kSlotInfos[] = {
    "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40Z9Z9,QX09",
    "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01",
    "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,40C3D4,QX02",
};

// A main window whose message boxes fail, to see that handlers keep errors away from the
// toolkit's event loop.
class FailingNoticeForm : public TMainForm {
public:
    void notice(const std::string&, const std::string&, qx::BoxIcon) override {
        throw std::runtime_error("the message box could not be shown");
    }
};

// Device I/O whose control calls throw.
class ThrowingDevices final : public qx::DeviceIo {
public:
    qx::DeviceHandle open(const char*, uint32_t, uint32_t) override { return 7; }
    void close(qx::DeviceHandle) override {}
    bool control(qx::DeviceHandle, uint32_t, void*, uint32_t, void*, uint32_t, uint32_t*) override {
        throw std::runtime_error("device layer failed");
    }
    uint32_t lastError() override { return 0; }
};

bool allZero(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() != 0) return false;
    }
    return true;
}

}  // namespace

class MainFormTest : public QObject {
    Q_OBJECT

    std::unique_ptr<qx::guitest::TempDir> dir_;
    QString previousDir_;
    QString exePath_;

    void writeIni(const QByteArray& extra = {}) {
        QVERIFY(qx::guitest::writeFile(dir_->filePath(QStringLiteral("QXUpdater.ini")),
                                       "[DeviceSetting]\r\nFirmwareVer=1.0\r\n" + extra));
    }

private slots:
    void init() {
        // Every test in a directory of its own: GUI_Main.jpg is looked up in the current one.
        dir_ = std::make_unique<qx::guitest::TempDir>();
        QVERIFY(dir_->isValid());
        previousDir_ = QDir::currentPath();
        QVERIFY(QDir::setCurrent(dir_->path()));
        exePath_ = dir_->filePath(QStringLiteral("qxupdater"));  // absent: file mode
        writeIni();
        qx::RDMode = false;
    }

    void cleanup() {
        QVERIFY2(QApplication::activeModalWidget() == nullptr, "a modal window was left open");
        qx::RDMode = false;
        QDir::setCurrent(previousDir_);
        dir_.reset();
    }

    void layoutCaptionsAndTabOrder() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        QCOMPARE(m.windowTitle(), kDefaultTitle);
        QCOMPARE(m.appTitle(), kDefaultTitle);
        QCOMPARE(m.size(), QSize(800, 600));
        QCOMPARE(m.minimumSize(), QSize(800, 600));
        QCOMPARE(m.maximumSize(), QSize(800, 600));
        QVERIFY(!(m.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(m.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(m.windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(m.font().pixelSize(), 11);
        QCOMPARE(m.font().family(), QStringLiteral("MS Sans Serif"));

        QCOMPARE(m.Image2->geometry(), QRect(0, 0, 801, 601));
        QVERIFY(m.Image2->isHidden());
        QCOMPARE(m.Shape1->geometry(), QRect(2, 529, 15, 15));
        QCOMPARE(m.DeviceList->geometry(), QRect(8, 408, 441, 21));
        QVERIFY(m.DeviceList->isHidden());
        QCOMPARE(m.ListView1->geometry(), QRect(0, 117, 802, 218));
        QCOMPARE(m.ListView1->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(m.ListView1->font().pixelSize(), 11);
        QCOMPARE(m.Memo1->geometry(), QRect(2, 342, 794, 147));
        QCOMPARE(m.Memo1->font().family(), QStringLiteral("Courier New"));
        QCOMPARE(m.Memo1->font().pixelSize(), 12);
        QVERIFY(!m.Memo1->isReadOnly());
        QCOMPARE(m.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        const char* headers[] = {"Disk", "Model", "Serial No.", "FW Rev.", "Capacity(GB)", "Status"};
        const int widths[] = {43, 270, 160, 90, 105, 130};
        QCOMPARE(m.ListView1->columnCount(), 6);
        for (int c = 0; c < 6; ++c) {
            QCOMPARE(m.ListView1->horizontalHeaderItem(c)->text(), QString::fromLatin1(headers[c]));
            QCOMPARE(m.ListView1->columnWidth(c), widths[c]);
        }
        QVERIFY(!m.ListView1->isSortingEnabled());
        QVERIFY(!m.ListView1->horizontalHeader()->sectionsClickable());
        QCOMPARE(m.ListView1->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(m.ListView1->showGrid());
        QCOMPARE(m.ListView1->selectionMode(), QAbstractItemView::SingleSelection);

        struct B {
            QPushButton* button;
            const char* caption;
            QRect geometry;
            bool enabled;
        } buttons[] = {
            {m.SecureEraseBtn, "Secure Erase", {8, 528, 111, 20}, false},
            {m.SmartInfoBtn, "Smart Info", {125, 528, 111, 20}, false},
            {m.ScanBn, "Scan for Drives", {463, 528, 100, 20}, true},
            {m.DownloadCodeBtn, "Update Firmware", {572, 528, 111, 20}, false},
            {m.CloseBn, "Exit", {692, 528, 100, 20}, true},
        };
        for (const B& b : buttons) {
            QCOMPARE(b.button->text(), QString::fromLatin1(b.caption));
            QCOMPARE(b.button->geometry(), b.geometry);
            QCOMPARE(b.button->isEnabled(), b.enabled);  // as laid out, before the first showing
            QCOMPARE(b.button->font().pixelSize(), 13);
        }

        // The focus chain visits the seven controls in the designed order.
        const QList<QWidget*> expected = {m.ListView1, m.ScanBn, m.DownloadCodeBtn, m.CloseBn,
                                          m.Memo1, m.SecureEraseBtn, m.SmartInfoBtn};
        QList<QWidget*> order;
        QWidget* w0 = m.ListView1;
        for (QWidget* x = w0; order.size() < expected.size(); x = x->nextInFocusChain()) {
            if (expected.contains(x) && !order.contains(x)) order << x;
            if (x->nextInFocusChain() == w0) break;
        }
        QCOMPARE(order, expected);
        QCOMPARE(m.DeviceList->focusPolicy(), Qt::NoFocus);
        QCOMPARE(m.Shape1->focusPolicy(), Qt::NoFocus);

        // The hot spot lies under the buttons: only its part left of "Secure Erase" is live.
        QCOMPARE(m.childAt(3, 530), static_cast<QWidget*>(m.Shape1));
        QCOMPARE(m.childAt(10, 530), static_cast<QWidget*>(m.SecureEraseBtn));
    }

    void firstShowingScansAndEnablesTheButtons() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        QVERIFY(!m.state().FirstShow);
        QVERIFY(!m.windowIcon().isNull());
        QCOMPARE(m.rowCount(), 4);
        const char* models[] = {"Quorvex QX-T74 256GB", "Quorvex QX-T74 128GB", "Quorvex QX-T74 512GB",
                                "Quorvex QX-T74 64GB"};
        for (int r = 0; r < 4; ++r) {
            QCOMPARE(cell(m, r, 0), QString::number(r + 1));
            QCOMPARE(cell(m, r, 1), QString::fromLatin1(models[r]));
            QCOMPARE(m.ListView1->item(r, 5), nullptr);  // no Status cell yet
            QVERIFY(!m.rowChecked(r));
        }
        QCOMPARE(cell(m, 0, 2), QStringLiteral("QX74A0000001"));
        QCOMPARE(cell(m, 0, 4), QStringLiteral("238"));
        QCOMPARE(cell(m, 1, 4), QStringLiteral("119"));
        QVERIFY(m.DownloadCodeBtn->isEnabled());
        QVERIFY(m.SecureEraseBtn->isEnabled());
        QVERIFY(m.SmartInfoBtn->isEnabled());
        QVERIFY(m.ScanBn->isEnabled());
        QVERIFY(m.CloseBn->isEnabled());
        QCOMPARE(m.DeviceList->count(), 4);
        QCOMPARE(m.DeviceList->currentIndex(), 0);
        QVERIFY(m.DeviceList->itemText(2).startsWith(QStringLiteral("<< USB / SATA >>")));
        QVERIFY(m.DeviceList->isHidden());
        QVERIFY(m.Memo1->toPlainText().isEmpty());
    }

    void scanWithoutDrivesKeepsTheActionsDisabled() {
        BenchScope scope(benchWithoutDrives(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(m.DeviceList->count(), 0);
        QVERIFY(!m.DownloadCodeBtn->isEnabled());
        QVERIFY(!m.SecureEraseBtn->isEnabled());
        QVERIFY(!m.SmartInfoBtn->isEnabled());
        QVERIFY(m.ScanBn->isEnabled());
        QVERIFY(m.CloseBn->isEnabled());
    }

    void scanButtonTellsFirstThenRebuildsTheList() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        m.setRowStatus(0, "Pass");
        m.appendLog("old line");
        int rowsAtBox = -1;
        QString statusAtBox;
        ModalPoller poller;
        poller.then([&](QWidget* box) {
            rowsAtBox = m.rowCount();
            statusAtBox = cell(m, 0, 5);
            ModalPoller::press(QMessageBox::Ok)(box);
        });
        QTest::mouseClick(m.ScanBn, Qt::LeftButton);
        QCOMPARE(poller.seen.size(), size_t{1});
        QCOMPARE(poller.seen[0].text, QStringLiteral("Device scan is finished"));
        QCOMPARE(poller.seen[0].title, m.windowTitle());
        QCOMPARE(poller.seen[0].icon, QMessageBox::NoIcon);
        QCOMPARE(rowsAtBox, 4);
        QCOMPARE(statusAtBox, QStringLiteral("Pass"));  // the list is rebuilt after the box
        QCOMPARE(scope.bench().rescanCount(), 1);
        QCOMPARE(m.rowCount(), 4);
        QCOMPARE(m.ListView1->item(0, 5), nullptr);
        QVERIFY(m.Memo1->toPlainText().isEmpty());
    }

    void mouseChecksKeepAtMostOneRow() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        clickBox(m, 0);
        QCOMPARE(checks(m), (std::vector<bool>{true, false, false, false}));
        QCOMPARE(m.state().CheckedCount, 1);
        QCOMPARE(m.state().CheckedIndex, 0);

        clickBox(m, 1);
        QCOMPARE(checks(m), (std::vector<bool>{false, true, false, false}));
        QCOMPARE(m.state().CheckedCount, 1);
        QCOMPARE(m.state().CheckedIndex, 1);

        clickBox(m, 1);  // the only checked row
        QCOMPARE(checks(m), (std::vector<bool>{false, false, false, false}));
        QCOMPARE(m.state().CheckedCount, 0);
        QCOMPARE(m.state().CheckedIndex, -1);

        // A click beside the boxes only recounts.
        clickBox(m, 3);
        QTest::mouseClick(m.ListView1->viewport(), Qt::LeftButton, Qt::NoModifier,
                          m.ListView1->visualItemRect(m.ListView1->item(0, 2)).center());
        QCOMPARE(checks(m), (std::vector<bool>{false, false, false, true}));
        QCOMPARE(m.state().CheckedCount, 1);
        QCOMPARE(m.state().CheckedIndex, 3);
    }

    void keyboardChecksRunTheRuleWithoutARecount() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        m.ListView1->setFocus();
        m.ListView1->setCurrentCell(0, 1);  // the space bar works from any cell of the row
        QTest::keyClick(m.ListView1, Qt::Key_Space);
        QCOMPARE(checks(m), (std::vector<bool>{true, false, false, false}));
        QCOMPARE(m.state().CheckedCount, 1);
        QCOMPARE(m.state().CheckedIndex, 0);

        QTest::keyClick(m.ListView1, Qt::Key_Space);  // unchecked; no click follows
        QCOMPARE(checks(m), (std::vector<bool>{false, false, false, false}));
        QCOMPARE(m.state().CheckedCount, 1);
        QCOMPARE(m.state().CheckedIndex, 0);

        m.ListView1->setCurrentCell(2, 0);
        QTest::keyClick(m.ListView1, Qt::Key_Space);
        QCOMPARE(checks(m), (std::vector<bool>{false, false, true, false}));
        QCOMPARE(m.state().CheckedIndex, 2);

        m.ListView1->setCurrentCell(3, 4);
        QTest::keyClick(m.ListView1, Qt::Key_Space);
        QCOMPARE(checks(m), (std::vector<bool>{false, false, false, true}));
        QCOMPARE(m.state().CheckedIndex, 3);
    }

    void statusCellsAndColouring() {
        BenchScope scope(benchWithoutDrives(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        m.addRow({"1", "Quorvex QX-T74 256GB", "S1", "1.02", "238"});
        m.addRow({"2", "PassMark SSD", "S2", "1.02", "238"});
        m.addRow({"3", "Quorvex QX-T74 64GB", "S3", "0.98", "59"});
        m.addRow({"Fail", "Quorvex QX-T74 64GB", "S4", "0.98", "59"});
        QCOMPARE(m.ListView1->item(0, 5), nullptr);
        m.setRowStatus(0, "Fail");
        m.setRowStatus(1, "No update needed");
        m.setRowStatus(2, "Pass");
        m.setRowStatus(7, "Pass");  // no such row: nothing happens
        QTableWidgetItem* status = m.ListView1->item(2, 5);
        QVERIFY(status != nullptr);
        m.setRowStatus(2, "Pass");
        QCOMPARE(m.ListView1->item(2, 5), status);  // written in place the second time
        m.setRowStatus(3, "");

        const QColor normalText = m.ListView1->cellOption(0, 2).palette.color(QPalette::Text);
        auto colourOf = [&](int r, int c) { return m.ListView1->cellOption(r, c).palette.color(QPalette::Text); };
        auto boldOf = [&](int r, int c) { return m.ListView1->cellOption(r, c).font.bold(); };
        QCOMPARE(colourOf(0, 5), QColor(255, 0, 0));
        QVERIFY(boldOf(0, 5));
        QCOMPARE(colourOf(2, 5), QColor(0, 0, 255));
        QVERIFY(boldOf(2, 5));
        QCOMPARE(colourOf(1, 5), QColor(0, 128, 0));
        QVERIFY(boldOf(1, 5));
        QCOMPARE(colourOf(3, 5), QColor(0, 0, 0));  // an empty Status cell
        QVERIFY(!boldOf(3, 5));
        QCOMPARE(colourOf(1, 1), QColor(0, 0, 255));  // every sub-item, not only Status
        QVERIFY(boldOf(1, 1));
        QVERIFY(!boldOf(3, 0));  // the caption keeps the list's font, whatever it says
        QCOMPARE(colourOf(3, 0), normalText);
        QVERIFY(!m.ListView1->item(3, 0)->text().isEmpty());
        m.ListView1->clearSelection();
        m.ListView1->setCurrentItem(nullptr);

        // And it is what the list draws.
        const QImage shot = m.ListView1->viewport()->grab().toImage();
        const QRect fail = m.ListView1->visualItemRect(m.ListView1->item(0, 5));
        const QRect pass = m.ListView1->visualItemRect(m.ListView1->item(2, 5));
        const QRect green = m.ListView1->visualItemRect(m.ListView1->item(1, 5));
        QVERIFY(pixelsLike(shot, fail, qRgb(255, 0, 0)) > 5);
        QVERIFY(pixelsLike(shot, pass, qRgb(0, 0, 255)) > 5);
        QVERIFY(pixelsLike(shot, green, qRgb(0, 128, 0)) > 5);
        QCOMPARE(pixelsLike(shot, pass, qRgb(255, 0, 0)), 0);
    }

    void hotSpotNeedsCtrl() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        ModalPoller poller;
        QTest::mousePress(m.Shape1, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseRelease(m.Shape1, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QVERIFY(!qx::RDMode);
        QVERIFY(poller.seen.empty());

        for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
            poller.then(ModalPoller::press(QMessageBox::Ok));
            QTest::mousePress(m.Shape1, button, Qt::ControlModifier, QPoint(5, 5));
            QTest::mouseRelease(m.Shape1, button, Qt::ControlModifier, QPoint(5, 5));
        }
        QVERIFY(qx::RDMode);
        QCOMPARE(poller.seen.size(), size_t{2});  // each Ctrl-press tells it again
        for (const auto& s : poller.seen) {
            QCOMPARE(s.text, QStringLiteral("Turn on RD mode"));
            QCOMPARE(s.title, kDefaultTitle);
            QCOMPARE(s.icon, QMessageBox::NoIcon);
        }
    }

    void exitClosesButNotWhileAnActionRuns() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        m.state().actionRunning = true;
        QVERIFY(!m.close());  // the title bar's close button, Alt-F4
        QVERIFY(m.isVisible());
        m.state().actionRunning = false;
        QTest::mouseClick(m.CloseBn, Qt::LeftButton);
        QVERIFY(!m.isVisible());
    }

    void brokenBackgroundPictureStopsTheScan() {
        QVERIFY(qx::guitest::writeFile(QStringLiteral("GUI_Main.jpg"), QByteArray("not a picture at all")));
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        ModalPoller poller;
        poller.then(ModalPoller::press(QMessageBox::Ok));
        showAndScan(m);
        QCOMPARE(poller.seen.size(), size_t{1});
        QCOMPARE(poller.seen[0].icon, QMessageBox::Critical);
        QCOMPARE(poller.seen[0].title, kDefaultTitle);
        QVERIFY(poller.seen[0].text.startsWith(QStringLiteral("JPEG error")));
        QVERIFY(m.isVisible());
        QVERIFY(m.state().FirstShow);
        QCOMPARE(m.rowCount(), 0);
        QVERIFY(!m.DownloadCodeBtn->isEnabled());
        QVERIFY(scope.bench().calls().empty());  // no drive was touched

        // Every "Scan for Drives" meets the same error and does not scan.
        poller.then(ModalPoller::press(QMessageBox::Ok));
        poller.then(ModalPoller::press(QMessageBox::Ok));
        QTest::mouseClick(m.ScanBn, Qt::LeftButton);
        QCOMPARE(poller.seen.size(), size_t{3});
        QCOMPARE(poller.seen[1].text, QStringLiteral("Device scan is finished"));
        QCOMPARE(poller.seen[2].icon, QMessageBox::Critical);
        QCOMPARE(m.rowCount(), 0);
        QVERIFY(scope.bench().calls().empty());

        // Repaired: the next scan completes the first-show work and lists the drives.
        QVERIFY(qx::guitest::writeFile(QStringLiteral("GUI_Main.jpg"), qx::guitest::makeJpeg(640, 480)));
        poller.then(ModalPoller::press(QMessageBox::Ok));
        QTest::mouseClick(m.ScanBn, Qt::LeftButton);
        QCOMPARE(poller.seen.size(), size_t{4});
        QCOMPARE(poller.unexpected(), 0);
        QVERIFY(!m.state().FirstShow);
        QCOMPARE(m.rowCount(), 4);
        QCOMPARE(m.size(), QSize(640, 480));  // the window takes the picture's size
        QCOMPARE(m.Image2->geometry(), QRect(0, 0, 640, 480));
        QVERIFY(m.Image2->isHidden());  // CustomBKImage is 0
    }

    void backgroundPictureShownWhenSwitchedOn() {
        writeIni("CustomBKImage=1\r\n");
        QVERIFY(qx::guitest::writeFile(QStringLiteral("GUI_Main.jpg"), qx::guitest::makeJpeg(820, 610)));
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        QCOMPARE(m.size(), QSize(820, 610));
        QVERIFY(m.Image2->isVisible());
        QCOMPARE(m.Image2->pixmap().size(), QSize(820, 610));
        QCOMPARE(m.rowCount(), 4);
    }

    void packageTitleAndPicture() {
        std::string error;
        const QString exe = qx::guitest::makePackagedExecutable(
            dir_->path(), QStringLiteral("packaged"), "1.06", "QX Demo SSD", qx::guitest::makeJpeg(800, 600), {}, error);
        QVERIFY2(!exe.isEmpty(), error.c_str());
        BenchScope scope(demoBench(exe));
        Windows w;
        TMainForm& m = *w.main;
        QCOMPARE(m.state().PackageMode, 1);
        QCOMPARE(m.appTitle(), QStringLiteral(" Toolbox A.1.19(RC2)"));
        showAndScan(m);
        QCOMPARE(m.windowTitle(), QStringLiteral("QX Demo SSD A.1.19(RC2) [1.06]"));
        QCOMPARE(m.appTitle(), QStringLiteral(" Toolbox A.1.19(RC2)"));
        QVERIFY(m.Image2->isVisible());
        QCOMPARE(m.Image2->pixmap().size(), QSize(800, 600));
        QCOMPARE(m.size(), QSize(800, 600));
        QCOMPARE(m.rowCount(), 4);
    }

    void packageWithoutPicture() {
        std::string error;
        const QString exe = qx::guitest::makePackagedExecutable(dir_->path(), QStringLiteral("packaged"), "1.06",
                                                                "QX Demo SSD", {}, {}, error);
        QVERIFY2(!exe.isEmpty(), error.c_str());
        BenchScope scope(demoBench(exe));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        QCOMPARE(m.windowTitle(), QStringLiteral("QX Demo SSD A.1.19(RC2) [1.06]"));
        QVERIFY(m.Image2->isHidden());
        QCOMPARE(m.size(), QSize(800, 600));
    }

    void creationErrorIsThrown() {
        // The configuration file cannot be created: the window is not made.
        const QString exe = dir_->filePath(QStringLiteral("no-such-dir/qxupdater"));
        BenchScope scope(demoBench(exe));
        ModalPoller poller;
        poller.then(ModalPoller::press(QMessageBox::Ok));
        QString thrown;
        try {
            Windows w;
        } catch (const std::runtime_error& e) {
            thrown = QString::fromLocal8Bit(e.what());
        }
        QVERIFY2(thrown.startsWith(QStringLiteral("Unable to write to ")), qPrintable(thrown));
        QCOMPARE(poller.seen.size(), size_t{1});
        QCOMPARE(poller.seen[0].title, QStringLiteral("Error"));
    }

    void seamDialogs() {
        BenchScope scope(benchWithoutDrives(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        ModalPoller poller;

        poller.then(ModalPoller::press(QMessageBox::Ok));
        QVERIFY(m.confirm("Warning", "Proceed?\nReally?", qx::BoxIcon::Warning));
        poller.then(ModalPoller::press(QMessageBox::Cancel));
        QVERIFY(!m.confirm("Warning", "Proceed?", qx::BoxIcon::Warning));
        poller.then(ModalPoller::reject());
        QVERIFY(!m.confirm("Warning", "Proceed?", qx::BoxIcon::Warning));
        QCOMPARE(poller.seen[0].title, QStringLiteral("Warning"));
        QCOMPARE(poller.seen[0].text, QStringLiteral("Proceed?\nReally?"));
        QCOMPARE(poller.seen[0].icon, QMessageBox::Warning);

        poller.then(ModalPoller::press(QMessageBox::Ok));
        m.notice("Caption", "<b>plain</b>", qx::BoxIcon::None);
        QCOMPARE(poller.seen.back().icon, QMessageBox::NoIcon);
        QCOMPARE(poller.seen.back().text, QStringLiteral("<b>plain</b>"));

        poller.then([](QWidget* wd) {
            auto* input = dynamic_cast<QInputDialog*>(wd);
            QVERIFY(input);
            QCOMPARE(input->labelText(), QStringLiteral("Password"));
            input->setTextValue(QStringLiteral("QXMASTER"));
            input->accept();
        });
        QCOMPARE(m.askText("Please Input the Password", "Password", ""), std::string("QXMASTER"));
        QCOMPARE(poller.seen.back().title, QStringLiteral("Please Input the Password"));
        poller.then(ModalPoller::reject());
        QCOMPARE(m.askText("Please Input the Password", "Password", "dflt"), std::string("dflt"));

        const QString bin = dir_->filePath(QStringLiteral("SYS_42A1.bin"));
        QVERIFY(qx::guitest::writeFile(bin, QByteArray(1024, '\x11')));
        QString filterSeen;
        poller.then([&](QWidget* wd) {
            auto* dialog = dynamic_cast<QFileDialog*>(wd);
            QVERIFY(dialog);
            filterSeen = dialog->selectedNameFilter();
            // Typed into the name box, as a user does (selectFile does not reach the box
            // while it has the focus).
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            QVERIFY(name);
            name->setText(bin);
            static_cast<QDialog*>(dialog)->accept();  // protected in QFileDialog
        });
        std::string initial = dir_->path().toStdString();
        QCOMPARE(m.chooseFile("Firmware bin file(*.bin)|SYS_42A1.bin", ".bin", initial), bin.toStdString());
        QCOMPARE(filterSeen, QStringLiteral("Firmware bin file(*.bin) (SYS_42A1.bin)"));
        QCOMPARE(initial, dir_->path().toStdString());
        poller.then(ModalPoller::reject());
        QCOMPARE(m.chooseFile("Firmware bin file(*.bin)|*.bin", ".bin", initial), std::string());
        QCOMPARE(poller.unexpected(), 0);
    }

    void fileFilterTranslation() {
        QCOMPARE(qx::QtFileFilter("Firmware bin file(*.bin)|*.bin"),
                 QStringLiteral("Firmware bin file(*.bin) (*.bin)"));
        QCOMPARE(qx::QtFileFilter("Firmware bin file(*.bin)|SYS_####.bin"),
                 QStringLiteral("Firmware bin file(*.bin) (SYS_####.bin)"));
        QCOMPARE(qx::QtFileFilter("Images|*.bin;*.img|All|*.*"),
                 QStringLiteral("Images (*.bin *.img);;All (*.*)"));
        QCOMPARE(qx::QtFileFilter(""), QString());
    }

    void logBoxAndPause() {
        BenchScope scope(benchWithoutDrives(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        m.appendLog("Disk 1 starting update.");
        m.appendLog("");
        m.appendLog("Disk 1 update fail");
        QCOMPARE(m.Memo1->toPlainText(), QStringLiteral("Disk 1 starting update.\n\nDisk 1 update fail\n"));
        m.clearLog();
        QVERIFY(m.Memo1->toPlainText().isEmpty());

        // On the virtual clock the pause returns at once, having let the window work.
        bool ran = false;
        QTimer::singleShot(0, [&] { ran = true; });
        const uint64_t before = scope.bench().clock().now();
        m.pause(2000);
        const uint64_t waited = scope.bench().clock().now() - before;
        QVERIFY(waited >= 2000 && waited < 2100);
        QVERIFY(ran);
        m.pause(0);
        QCOMPARE(scope.bench().clock().now() - before, waited);
    }

    void smartWindowThroughSmartInfo() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        clickBox(m, 1);
        ModalPoller poller;
        bool exitEnabledInside = true;
        poller.then([&](QWidget* wd) {
            QCOMPARE(wd, static_cast<QWidget*>(w.information.get()));
            exitEnabledInside = m.CloseBn->isEnabled();
            w.information->GetSmartInfoBn->click();
            w.information->reject();
        });
        QTest::mouseClick(m.SmartInfoBtn, Qt::LeftButton);
        QCOMPARE(poller.unexpected(), 0);
        QCOMPARE(poller.seen.size(), size_t{1});
        QVERIFY(!exitEnabledInside);
        QCOMPARE(int{qx::SmartDrive}, 1);
        QVERIFY(!w.information->SMARTMemo->toPlainText().isEmpty());
        QVERIFY(m.CloseBn->isEnabled());
        QVERIFY(m.SmartInfoBtn->isEnabled());
    }

    // One update on the demo bench through the real dialogs, as a user does it.
    void updateFirmwareRound() {
        std::string error;
        const QString exe = qx::guitest::makePackagedExecutable(
            dir_->path(), QStringLiteral("qxupdater-demo"), "1.06", "QX Demo SSD", qx::guitest::makeJpeg(800, 600),
            {{150016, kSlotInfos[0]}, {150016, kSlotInfos[1]}, {150528, kSlotInfos[2]}}, error);
        QVERIFY2(!exe.isEmpty(), error.c_str());
        BenchScope scope(demoBench(exe));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        QCOMPARE(m.rowCount(), 4);
        clickBox(m, 0);

        ModalPoller poller;
        bool exitEnabledAtQuestion = true;
        bool stayedOpen = false;
        poller.then([&](QWidget* box) {
            exitEnabledAtQuestion = m.CloseBn->isEnabled();
            ModalPoller::press(QMessageBox::Ok)(box);
        });
        poller.then([&](QWidget* prompt) {
            QCOMPARE(prompt, static_cast<QWidget*>(w.shutDown));
            m.close();  // refused while the update runs
            stayedOpen = m.isVisible();
            w.shutDown->CloseBn->click();
        });
        QTest::mouseClick(m.DownloadCodeBtn, Qt::LeftButton);

        QCOMPARE(poller.unexpected(), 0);
        QCOMPARE(poller.seen.size(), size_t{2});
        QCOMPARE(poller.seen[0].title, QStringLiteral("Warning"));
        QCOMPARE(poller.seen[0].icon, QMessageBox::Warning);
        QVERIFY(poller.seen[0].text.startsWith(QStringLiteral("Please close all other \"applications\"")));
        QCOMPARE(poller.seen[1].title, QStringLiteral("Warning"));
        QVERIFY(!exitEnabledAtQuestion);
        QVERIFY(stayedOpen);

        QCOMPARE(cell(m, 0, 5), QStringLiteral("Pass"));
        for (int r = 1; r < 4; ++r) QCOMPARE(cell(m, r, 5), QString());
        QVERIFY(scope.bench().driveState(0).firmwareUpdated);
        QCOMPARE(QString::fromStdString(scope.bench().driveState(0).firmware), QStringLiteral("1.06"));
        QVERIFY(!scope.bench().driveState(1).firmwareUpdated);
        QVERIFY(m.Memo1->toPlainText().contains(
            QStringLiteral("Disk 1 updated successfully, please shut down your system")));
        QCOMPARE(scope.bench().shutdownRequests(), 0);
        QVERIFY(m.CloseBn->isEnabled());
        QVERIFY(m.ScanBn->isEnabled());
        QVERIFY(m.DownloadCodeBtn->isEnabled());
        QVERIFY(!m.state().actionRunning);

        QTest::mouseClick(m.CloseBn, Qt::LeftButton);
        QVERIFY(!m.isVisible());
    }

    // Row 1 checked, "Scan for Drives", then a click on row 1's box: the box stays checked.
    void checkingTheRememberedRowAfterARescanKeepsIt() {
        BenchScope scope(demoBench(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        showAndScan(m);
        clickBox(m, 0);
        QCOMPARE(m.state().CheckedIndex, 0);
        ModalPoller poller;
        poller.then(ModalPoller::press(QMessageBox::Ok));
        QTest::mouseClick(m.ScanBn, Qt::LeftButton);
        QCOMPARE(checks(m), (std::vector<bool>{false, false, false, false}));
        clickBox(m, 0);
        QCOMPARE(checks(m), (std::vector<bool>{true, false, false, false}));
        QCOMPARE(m.state().CheckedCount, 1);
        QCOMPARE(m.state().CheckedIndex, 0);
    }

    // The typed password: the characters the input box held are overwritten before it goes,
    // and the caller gets the one UTF-8 copy it wipes itself.
    void passwordBoxWipesWhatItHeld() {
        BenchScope scope(benchWithoutDrives(exePath_));
        Windows w;
        TMainForm& m = *w.main;
        ModalPoller poller;
        QString lineEditText, dialogText;
        poller.then([&](QWidget* wd) {
            auto* input = dynamic_cast<QInputDialog*>(wd);
            QVERIFY(input);
            auto* edit = input->findChild<QLineEdit*>();
            QVERIFY(edit);
            QTest::keyClicks(edit, QStringLiteral("Sw0rdf1sh"));
            // Copies that share the characters the dialog and its line edit hold.
            lineEditText = edit->text();
            dialogText = input->textValue();
            input->accept();
        });
        QCOMPARE(m.askText("Please Input the Password", "Password", ""), std::string("Sw0rdf1sh"));
        QCOMPARE(lineEditText.size(), qsizetype{9});
        QVERIFY(allZero(lineEditText));
        QVERIFY(allZero(dialogText));

        QString text = QString::fromUtf8("p\xc3\xa4ss");  // on the heap, as typed text is
        const QString shared = text;
        QCOMPARE(qx::TakeSecretText(text), std::string("p\xc3\xa4ss"));
        QVERIFY(text.isEmpty());
        QCOMPARE(shared.size(), qsizetype{4});
        QVERIFY(allZero(shared));
    }

    // An error in a handler other than the action buttons (here the hot spot, and "Get
    // Smart Info" whose device layer fails) is shown in the standard error box; it does not
    // reach the toolkit's event loop.
    void handlerErrorsAreShownInTheErrorBox() {
        BenchScope scope(demoBench(exePath_));
        FailingNoticeForm m;
        ModalPoller poller;
        poller.then(ModalPoller::press(QMessageBox::Ok));
        m.SpecialTipShapeMouseDown(Qt::ControlModifier);
        QCOMPARE(poller.seen.size(), size_t{1});
        QCOMPARE(poller.seen[0].icon, QMessageBox::Critical);
        QCOMPARE(poller.seen[0].text, QStringLiteral("the message box could not be shown"));
        QCOMPARE(poller.seen[0].title, m.appTitle());

        ThrowingDevices devices;
        qx::Platform failing = qx::platform();
        failing.devices = &devices;
        const qx::Platform previous = qx::platform();
        qx::installPlatform(failing);
        TInformationForm information;
        qx::SmartDrive = 0;
        qx::DeviceSlot[0].devicePath = "\\\\?\\ide#diskfailing";
        qx::DeviceSlot[0].ata = 1;
        poller.then(ModalPoller::press(QMessageBox::Ok));
        information.GetSmartInfoBnClick();
        qx::ResetDeviceSlots();
        qx::installPlatform(previous);
        QCOMPARE(poller.seen.size(), size_t{2});
        QCOMPARE(poller.seen[1].icon, QMessageBox::Critical);
        QCOMPARE(poller.seen[1].text, QStringLiteral("device layer failed"));
        QCOMPARE(poller.seen[1].title, m.appTitle());
    }
};

QTEST_MAIN(MainFormTest)
#include "mainform_test.moc"
