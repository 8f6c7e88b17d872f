// The shutdown prompt and the SMART window.
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest>

#include "QXLib/Smart.h"
#include "QXLib/Transport.h"
#include "gui/GuiTestSupport.h"
#include "app/qt/InformationForm.h"
#include "app/qt/ShutDownForm.h"

using qx::guitest::BenchScope;
using qx::guitest::ModalPoller;
namespace sim = qx::sim;

class FormsTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY2(QApplication::activeModalWidget() == nullptr, "a modal window was left open"); }

    void shutDownPromptLayout() {
        QWidget owner;
        owner.setGeometry(100, 100, 800, 600);
        TShutDownForm f(&owner);
        QCOMPARE(f.windowTitle(), QStringLiteral("Warning"));
        QCOMPARE(f.size(), QSize(457, 90));
        QCOMPARE(f.minimumSize(), f.maximumSize());
        QCOMPARE(f.font().pixelSize(), 11);
        QCOMPARE(f.Label1->text(), QStringLiteral("Updated successfully, please shut down your system."));
        QCOMPARE(f.Label1->pos(), QPoint(56, 8));
        QCOMPARE(f.Label1->font().pixelSize(), 16);
        QCOMPARE(f.ShutDown->text(), QStringLiteral("Shut down now"));
        QCOMPARE(f.ShutDown->geometry(), QRect(115, 47, 100, 20));
        QCOMPARE(f.CloseBn->text(), QStringLiteral("Exit"));
        QCOMPARE(f.CloseBn->geometry(), QRect(232, 47, 100, 20));
        QCOMPARE(f.ShutDown->font().pixelSize(), 13);
        QCOMPARE(f.ShutDown->nextInFocusChain(), static_cast<QWidget*>(f.CloseBn));
        QVERIFY(!(f.windowFlags() & Qt::WindowMinimizeButtonHint));
    }

    // Cancel leaves the prompt open, OK requests the power-off (only recorded on the bench)
    // and still leaves it open, "Exit" closes it.
    void shutDownAsksFirst() {
        BenchScope scope(sim::SimBench::demo());
        QWidget owner;
        TShutDownForm f(&owner);
        ModalPoller poller;
        bool openAfterCancel = false, openAfterOk = false;
        int requestsAfterCancel = -1;
        poller.then([&](QWidget*) { f.ShutDown->click(); });
        poller.then(ModalPoller::press(QMessageBox::Cancel));
        poller.then([&](QWidget*) {
            openAfterCancel = f.isVisible();
            requestsAfterCancel = scope.bench().shutdownRequests();
            f.ShutDown->click();
        });
        poller.then(ModalPoller::press(QMessageBox::Ok));
        poller.then([&](QWidget*) {
            openAfterOk = f.isVisible();
            f.CloseBn->click();
        });
        f.exec();
        QCOMPARE(poller.unexpected(), 0);
        QCOMPARE(poller.seen.size(), size_t{5});
        QCOMPARE(poller.seen[1].title, QStringLiteral("Warning"));
        QCOMPARE(poller.seen[1].text, QStringLiteral("Are you sure shut down your PC"));
        QCOMPARE(poller.seen[1].icon, QMessageBox::Warning);
        QVERIFY(openAfterCancel);
        QCOMPARE(requestsAfterCancel, 0);
        QVERIFY(openAfterOk);
        QCOMPARE(scope.bench().shutdownRequests(), 1);
        QVERIFY(!f.isVisible());
    }

    void smartWindowLayout() {
        TInformationForm f;
        QCOMPARE(f.windowTitle(), QStringLiteral("SMART Info"));
        QCOMPARE(f.font().family(), QStringLiteral("Tahoma"));
        QCOMPARE(f.font().pixelSize(), 11);
        QVERIFY(f.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(f.windowFlags() & Qt::WindowMaximizeButtonHint);
        QVERIFY(f.minimumSize() != f.maximumSize());  // resizable
        QCOMPARE(f.SMARTMemo->geometry(), QRect(8, 16, 361, 289));
        QVERIFY(f.SMARTMemo->isReadOnly());
        QVERIFY(f.SMARTMemo->toPlainText().isEmpty());
        QCOMPARE(f.SMARTMemo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(f.SMARTMemo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(f.SMARTMemo->palette().color(QPalette::Base), f.palette().color(QPalette::Button));
        QCOMPARE(f.GetSmartInfoBn->text(), QStringLiteral("Get Smart Info"));
        QCOMPARE(f.GetSmartInfoBn->geometry(), QRect(136, 408, 91, 25));
        // After the text box (and its own scroll parts) comes the button.
        QWidget* next = f.SMARTMemo->nextInFocusChain();
        while (f.SMARTMemo->isAncestorOf(next)) next = next->nextInFocusChain();
        QCOMPARE(next, static_cast<QWidget*>(f.GetSmartInfoBn));
        // The controls keep their place when the window is resized.
        f.resize(700, 700);
        QCOMPARE(f.GetSmartInfoBn->geometry(), QRect(136, 408, 91, 25));
    }

    void smartReadShowsTheReportAndAFailureKeepsIt() {
        BenchScope scope(sim::SimBench::demo());
        qx::ResetDeviceSlots();
        qx::DeviceSlot[0].devicePath = scope.bench().setup().disks[0].path.c_str();
        qx::DeviceSlot[0].ata = 1;
        qx::SmartDrive = 0;

        TInformationForm f;
        f.SMARTMemo->setPlainText(QStringLiteral("earlier lines"));
        f.GetSmartInfoBn->click();
        const QString report = f.SMARTMemo->toPlainText();
        QVERIFY(!report.isEmpty());
        QVERIFY(!report.contains(QStringLiteral("earlier lines")));
        f.GetSmartInfoBn->click();  // read again: the same lines, once
        QCOMPARE(f.SMARTMemo->toPlainText(), report);

        // The drive stops answering SMART READ DATA: the box keeps what it shows.
        sim::SimFault fault;
        fault.key = "ata:b0/d0";
        fault.kind = sim::FaultKind::AtaError;
        scope.bench().setup().disks[0].faults.push_back(fault);
        const int before = static_cast<int>(scope.bench().calls().size());
        f.GetSmartInfoBn->click();
        QVERIFY(static_cast<int>(scope.bench().calls().size()) > before);  // it did ask the drive
        QCOMPARE(f.SMARTMemo->toPlainText(), report);
        qx::ResetDeviceSlots();
    }
};

QTEST_MAIN(FormsTest)
#include "forms_test.moc"
