// The Qt main window under a desktop scale factor (QT_SCALE_FACTOR 1.5 and 2): the layout
// keeps its logical geometry, and the background picture is drawn at the same scale as the
// controls, so they stay on their painted areas. The factor is read when the application
// starts, so the test program runs itself once per factor.
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QtTest>

#include <cmath>
#include <memory>

#include "app/qt/InformationForm.h"
#include "app/qt/MainForm.h"
#include "app/qt/ShutDownForm.h"
#include "gui/GuiTestSupport.h"

namespace {

const char kChildMark[] = "QX_SCALE_FACTOR_RUN";

// How far a colour may stray: JPEG and the smoothing of the scaled picture.
bool near(QRgb a, QRgb b, int tolerance = 24) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

QString rgbText(QRgb c) { return QStringLiteral("(%1,%2,%3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c)); }

}  // namespace

class ScaleFactorTest : public QObject {
    Q_OBJECT

private slots:
    void pictureAndControlsStayAligned() {
        const double factor = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble();
        QVERIFY2(factor > 1.0, "run with QT_SCALE_FACTOR above 1");
        qx::guitest::TempDir dir;
        std::string error;
        // 800 x 600: the left half (200, 40, 40) at half brightness, the right half whole.
        const QString exe = qx::guitest::makePackagedExecutable(
            dir.path(), QStringLiteral("packaged"), "1.06", "QX Demo SSD", qx::guitest::makeJpeg(800, 600),
            {{150016, "QXFWR_111020_R,Oct 01 2012,12:00:00,t74a,42A1B2,QX01"}}, error);
        QVERIFY2(!exe.isEmpty(), error.c_str());
        auto bench = qx::sim::SimBench::demo();
        bench->setup().executablePath = exe.toStdString();
        qx::guitest::BenchScope scope(std::move(bench));

        auto main = std::make_unique<TMainForm>();
        auto* shutDown = new TShutDownForm(main.get());
        auto information = std::make_unique<TInformationForm>();
        main->setModalForms(shutDown, information.get());
        TMainForm& m = *main;
        m.show();
        for (int round = 0; round < 1000 && m.scanPending(); ++round) QCoreApplication::processEvents();
        QCOMPARE(m.rowCount(), 4);
        QVERIFY(qAbs(m.devicePixelRatioF() - factor) < 1e-6);

        // The layout in logical pixels, as at 100 %.
        QCOMPARE(m.size(), QSize(800, 600));
        QCOMPARE(m.Image2->geometry(), QRect(0, 0, 801, 601));
        QCOMPARE(m.ListView1->geometry(), QRect(0, 117, 802, 218));
        QCOMPARE(m.Memo1->geometry(), QRect(2, 342, 794, 147));
        QVERIFY(m.Image2->isVisible());

        // The window as drawn, in device pixels.
        const QImage shot = m.grab().toImage();
        QCOMPARE(shot.size(), QSize(qRound(800 * factor), qRound(600 * factor)));
        auto at = [&](int x, int y) { return shot.pixel(qRound(x * factor), qRound(y * factor)); };
        const QRgb dark = qRgb(100, 20, 20), bright = qRgb(200, 40, 40);
        // The picture's halves meet at logical x = 400, where the controls' layout puts them:
        // drawn unscaled they would meet at 400 / factor, and end short of the window.
        QVERIFY2(near(at(396, 60), dark), qPrintable(rgbText(at(396, 60))));
        QVERIFY2(near(at(404, 60), bright), qPrintable(rgbText(at(404, 60))));
        QVERIFY2(near(at(10, 60), dark), qPrintable(rgbText(at(10, 60))));
        QVERIFY2(near(at(790, 60), bright), qPrintable(rgbText(at(790, 60))));
        // The bottom right corner, beside the buttons, is still picture.
        QVERIFY2(near(at(796, 590), bright), qPrintable(rgbText(at(796, 590))));
        QVERIFY2(near(at(300, 590), dark), qPrintable(rgbText(at(300, 590))));
        // A button is drawn over the picture exactly where its logical rectangle lies.
        const QRect exit = m.CloseBn->geometry();
        QVERIFY(!near(at(exit.center().x(), exit.center().y()), bright, 40));
        QVERIFY2(near(at(exit.right() + 4, exit.center().y()), bright),
                 qPrintable(rgbText(at(exit.right() + 4, exit.center().y()))));

        information.reset();
        main.reset();
    }
};

// Without the mark: runs this program again at each factor and reports their outcome.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildMark)) {
        QApplication app(argc, argv);
        ScaleFactorTest test;
        return QTest::qExec(&test, argc, argv);
    }
    QCoreApplication app(argc, argv);
    int failed = 0;
    for (const char* factor : {"1.5", "2"}) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildMark), QStringLiteral("1"));
        env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(factor));
        if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        std::printf("QT_SCALE_FACTOR=%s\n", factor);
        std::fflush(stdout);
        child.start(QCoreApplication::applicationFilePath(), QCoreApplication::arguments().mid(1));
        const bool finished = child.waitForFinished(120000);
        if (!finished || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) ++failed;
    }
    return failed == 0 ? 0 : 1;
}

#include "scalefactor_test.moc"
