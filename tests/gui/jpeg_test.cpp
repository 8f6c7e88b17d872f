// The picture decoder: good pictures decode, broken ones give an error text and no image.
#include <QtTest>

#include <sys/stat.h>

#include "app/qt/JpegPicture.h"
#include "gui/GuiTestSupport.h"

using qx::guitest::makeJpeg;

namespace {

// Pure cyan ink, no black: (0, 255, 255) once converted. libjpeg marks the file as an Adobe
// one, whose samples are stored inverted (255 = no ink).
QByteArray makeCmykJpeg(int width, int height) {
    return qx::guitest::encodeJpeg(width, height, 4, JCS_CMYK, [&](int, unsigned char* row) {
        for (int x = 0; x < width; ++x) {
            row[4 * x] = 0;
            row[4 * x + 1] = 255;
            row[4 * x + 2] = 255;
            row[4 * x + 3] = 255;
        }
    });
}

bool decode(const QByteArray& bytes, QImage& image, QString& error) {
    return qx::DecodeJpeg(reinterpret_cast<const uint8_t*>(bytes.constData()),
                          static_cast<size_t>(bytes.size()), image, error);
}

bool near(QRgb a, QRgb b, int tolerance = 12) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

// Finds the start-of-frame marker and writes new dimensions into it.
void setFrameSize(QByteArray& jpeg, int width, int height) {
    for (qsizetype i = 2; i + 8 < jpeg.size(); ++i) {
        const auto m = static_cast<unsigned char>(jpeg[i + 1]);
        if (static_cast<unsigned char>(jpeg[i]) == 0xFF && (m == 0xC0 || m == 0xC2)) {
            jpeg[i + 5] = static_cast<char>(height >> 8);
            jpeg[i + 6] = static_cast<char>(height & 0xFF);
            jpeg[i + 7] = static_cast<char>(width >> 8);
            jpeg[i + 8] = static_cast<char>(width & 0xFF);
            return;
        }
    }
}

}  // namespace

class JpegPictureTest : public QObject {
    Q_OBJECT
private slots:
    void goodPictureDecodes() {
        QImage image;
        QString error;
        QVERIFY(decode(makeJpeg(64, 48, qRgb(200, 40, 40)), image, error));
        QVERIFY(error.isEmpty());
        QCOMPARE(image.size(), QSize(64, 48));
        QVERIFY2(near(image.pixel(50, 20), qRgb(200, 40, 40)), "right half keeps the colour");
        QVERIFY2(near(image.pixel(5, 20), qRgb(100, 20, 20)), "left half is darker");
    }

    void pictureAreaWithTrailingZerosDecodes() {
        // The package's picture area: the JPEG followed by zero bytes up to 81,920.
        QByteArray area = makeJpeg(120, 90);
        area.append(QByteArray(81920 - area.size(), '\0'));
        QImage image;
        QString error;
        QVERIFY2(decode(area, image, error), qPrintable(error));
        QCOMPARE(image.size(), QSize(120, 90));
    }

    void cmykPictureDecodesToRgb() {
        QImage image;
        QString error;
        QVERIFY2(decode(makeCmykJpeg(16, 8), image, error), qPrintable(error));
        QCOMPARE(image.size(), QSize(16, 8));
        QVERIFY(near(image.pixel(8, 4), qRgb(0, 255, 255), 20));
    }

    void truncatedPictureIsAnError() {
        const QByteArray full = makeJpeg(200, 150);
        for (const qsizetype keep : {full.size() / 2, full.size() - 3, qsizetype(200), qsizetype(20)}) {
            QImage image;
            QString error;
            QVERIFY2(!decode(full.left(keep), image, error), qPrintable(QString::number(keep)));
            QVERIFY(image.isNull());
            QVERIFY(error.startsWith(QStringLiteral("JPEG error: ")));
        }
    }

    void garbageAndEmptyAreErrors() {
        QByteArray garbage(5000, '\0');
        unsigned x = 7;
        for (char& c : garbage) {
            x = x * 1103515245u + 12345u;
            c = static_cast<char>(x >> 16);
        }
        QImage image;
        QString error;
        QVERIFY(!decode(garbage, image, error));
        QVERIFY(image.isNull());
        QVERIFY(!error.isEmpty());

        QVERIFY(!decode(QByteArray(81920, '\0'), image, error));  // an empty picture area
        QVERIFY(!error.isEmpty());
        QVERIFY(!qx::DecodeJpeg(nullptr, 0, image, error));
        QVERIFY(!error.isEmpty());

        // A valid start, then noise where the entropy-coded data should be.
        QByteArray damaged = makeJpeg(64, 64);
        for (qsizetype i = damaged.size() / 2; i < damaged.size(); ++i) damaged[i] = static_cast<char>(0xFF);
        QVERIFY(!decode(damaged, image, error));
        QVERIFY(image.isNull());
    }

    void oversizedPictureIsRefused() {
        QByteArray jpeg = makeJpeg(16, 16);
        setFrameSize(jpeg, 9000, 16);
        QImage image;
        QString error;
        QVERIFY(!decode(jpeg, image, error));
        QVERIFY2(error.contains(QStringLiteral("9000")), qPrintable(error));
        setFrameSize(jpeg, 16, 8193);
        QVERIFY(!decode(jpeg, image, error));
        QVERIFY(error.contains(QStringLiteral("8193")));
        setFrameSize(jpeg, 0, 16);
        QVERIFY(!decode(jpeg, image, error));
    }

    void fileLoading() {
        qx::guitest::TempDir dir;
        QVERIFY(dir.isValid());
        QImage image;
        QString error;
        QVERIFY(!qx::LoadJpegFile(dir.filePath(QStringLiteral("missing.jpg")), image, error));
        QVERIFY(error.contains(QStringLiteral("missing.jpg")));

        const QString good = dir.filePath(QStringLiteral("good.jpg"));
        QVERIFY(qx::guitest::writeFile(good, makeJpeg(33, 17)));
        QVERIFY2(qx::LoadJpegFile(good, image, error), qPrintable(error));
        QCOMPARE(image.size(), QSize(33, 17));

        // A file beyond the size bound is refused before it is read.
        const QString huge = dir.filePath(QStringLiteral("huge.jpg"));
        {
            QFile f(huge);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.resize(qx::kMaxPictureFileBytes + 1));
        }
        QVERIFY(!qx::LoadJpegFile(huge, image, error));
        QVERIFY(image.isNull());
        QVERIFY(error.contains(QStringLiteral("larger")));

        // A FIFO in the picture's place is refused at once instead of blocking the start.
        const QString fifo = dir.filePath(QStringLiteral("GUI_Main.jpg"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!qx::LoadJpegFile(fifo, image, error));
        QVERIFY2(error.endsWith(QStringLiteral("is not a regular file")), qPrintable(error));
    }
};

QTEST_MAIN(JpegPictureTest)
#include "jpeg_test.moc"
