// Helpers for the window tests: a poller that answers the modal windows the code under
// test opens (message boxes, input box, file dialog, the two modal forms), a simulated
// bench installed for one test, and small builders for pictures and packages.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QByteArray>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "platform/Platform.h"
#include "platform/sim/SimBench.h"
// The writer's inspection record has a member named like Qt's "slots" keyword macro.
#pragma push_macro("slots")
#undef slots
#include "support/TempDir.h"
#include "update/PackageWriter.h"
#pragma pop_macro("slots")

namespace qx::guitest {

// The tests' one temporary-folder helper (support/TempDir.h), with Qt strings.
class TempDir {
public:
    bool isValid() const { return !dir_.path().empty(); }
    QString path() const { return QString::fromStdString(dir_.str()); }
    QString filePath(const QString& name) const {
        return QString::fromStdString(dir_.file(name.toStdString()));
    }

private:
    qx::test::TempDir dir_{"qx-gui"};
};

// What the poller saw of one modal window.
struct SeenModal {
    QString className;
    QString title;
    QString text;  // message boxes only
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool expected = true;  // false: no answer was scripted, the window was closed
};

// Answers modal windows as they come up, one scripted answer each, from a timer that the
// nested modal loops keep running. A window without a scripted answer is closed and
// recorded as unexpected, so a test never hangs on it.
class ModalPoller {
public:
    using Answer = std::function<void(QWidget*)>;

    ModalPoller() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start();
    }

    void then(Answer answer) { answers_.push_back(std::move(answer)); }

    // Common answers.
    static Answer press(QMessageBox::StandardButton which) {
        return [which](QWidget* w) {
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                if (QAbstractButton* b = box->button(which)) {
                    b->click();
                    return;
                }
            }
            w->close();
        };
    }
    static Answer reject() {
        return [](QWidget* w) {
            if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
            else w->close();
        };
    }

    std::vector<SeenModal> seen;
    bool pending() const { return !answers_.empty(); }
    int unexpected() const {
        int n = 0;
        for (const SeenModal& s : seen) n += s.expected ? 0 : 1;
        return n;
    }

private:
    void tick() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible()) return;
        if (w == handled_ && handled_) return;  // still closing
        handled_ = w;
        SeenModal s;
        s.className = QString::fromLatin1(w->metaObject()->className());
        s.title = w->windowTitle();
        if (auto* box = qobject_cast<QMessageBox*>(w)) {
            s.text = box->text();
            s.icon = box->icon();
        }
        if (answers_.empty()) {
            s.expected = false;
            seen.push_back(s);
            if (auto* d = qobject_cast<QDialog*>(w)) d->reject();
            else w->close();
            return;
        }
        seen.push_back(s);
        // Answered from the event loop, not from inside this tick: an answer that opens a
        // nested modal window must not hold the timer (Qt does not re-enter a timer).
        auto answer = std::make_shared<Answer>(std::move(answers_.front()));
        answers_.pop_front();
        QPointer<QWidget> target(w);
        QTimer::singleShot(0, qApp, [answer, target] {
            if (target) (*answer)(target.data());
        });
    }

    QTimer timer_;
    std::deque<Answer> answers_;
    QPointer<QWidget> handled_;
};

// A bench installed as the process platform for the length of a test.
class BenchScope {
public:
    explicit BenchScope(std::unique_ptr<sim::SimBench> bench) : bench_(std::move(bench)) {
        previous_ = platform();
        installPlatform(bench_->platform());
    }
    ~BenchScope() { installPlatform(previous_); }
    sim::SimBench& bench() { return *bench_; }

private:
    std::unique_ptr<sim::SimBench> bench_;
    Platform previous_;
};

// A JPEG made with libjpeg: `components` samples per pixel in `space`, each row filled by
// `fillRow(y, row)`.
inline QByteArray encodeJpeg(int width, int height, int components, J_COLOR_SPACE space,
                             const std::function<void(int, unsigned char*)>& fillRow) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(static_cast<size_t>(width) * static_cast<size_t>(components));
    while (cinfo.next_scanline < cinfo.image_height) {
        fillRow(static_cast<int>(cinfo.next_scanline), row.data());
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    jpeg_destroy_compress(&cinfo);
    std::free(out);
    return bytes;
}

// An RGB JPEG of the given size: `colour`, with the left half at half brightness.
inline QByteArray makeJpeg(int width, int height, QRgb colour = qRgb(200, 40, 40)) {
    return encodeJpeg(width, height, 3, JCS_RGB, [&](int, unsigned char* row) {
        for (int x = 0; x < width; ++x) {
            const int shade = x < width / 2 ? 2 : 1;
            row[3 * x] = static_cast<unsigned char>(qRed(colour) / shade);
            row[3 * x + 1] = static_cast<unsigned char>(qGreen(colour) / shade);
            row[3 * x + 2] = static_cast<unsigned char>(qBlue(colour) / shade);
        }
    });
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

// One image slot of a test package: its length and BuildInfo text.
struct SlotSpec {
    uint32_t length = 0;
    const char* buildInfo = "";
};

// Builds, in `dir`, an executable named `name` with a firmware package behind it (the
// packaging tool's own writer): version text, product name, the picture when one is given,
// one synthetic image per slot. Returns its path, or an empty text with `error` set.
inline QString makePackagedExecutable(const QString& dir, const QString& name, const std::string& version,
                                      const std::string& product, const QByteArray& jpeg,
                                      const std::vector<SlotSpec>& slotSpecs, std::string& error) {
    const QString exe = dir + QStringLiteral("/") + name + QStringLiteral(".in");
    if (!writeFile(exe, QByteArray("\x7f" "ELF test executable"))) return {};
    PackageBuildRequest request;
    request.exePath = exe.toStdString();
    request.outPath = (dir + QStringLiteral("/") + name).toStdString();
    request.versionText = version;
    request.productName = product;
    if (!jpeg.isEmpty()) {
        const QString picture = dir + QStringLiteral("/") + name + QStringLiteral(".jpg");
        if (!writeFile(picture, jpeg)) return {};
        request.picturePath = picture.toStdString();
    }
    for (size_t i = 0; i < slotSpecs.size(); ++i) {
        SyntheticImageSpec setup;
        setup.length = slotSpecs[i].length;
        setup.buildInfo = slotSpecs[i].buildInfo;
        setup.seed = static_cast<uint32_t>(i + 1);
        std::vector<uint8_t> image;
        if (!MakeSyntheticImage(setup, image, error)) return {};
        const QString path = dir + QStringLiteral("/") + name + QStringLiteral(".slot%1").arg(i);
        if (!writeFile(path, QByteArray(reinterpret_cast<const char*>(image.data()),
                                        static_cast<qsizetype>(image.size()))))
            return {};
        request.imagePaths.push_back(path.toStdString());
    }
    if (!BuildPackage(request, error)) return {};
    return QString::fromStdString(request.outPath);
}

}  // namespace qx::guitest
