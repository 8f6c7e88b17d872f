// A bare Qt window of the main window's size: the baseline of the timed start runs. With
// QXUPDATER_STARTUP_TIMES=PATH it appends "first-paint <ms of the Unix epoch>" to PATH when
// it has been painted for the first time.
#include <QApplication>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {
class BareWindow : public QWidget {
protected:
    void paintEvent(QPaintEvent* event) override {
        QWidget::paintEvent(event);
        if (painted_) return;
        painted_ = true;
        const char* path = std::getenv("QXUPDATER_STARTUP_TIMES");
        if (!path || !*path) return;
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::system_clock::now().time_since_epoch()).count();
        if (FILE* f = std::fopen(path, "a")) {
            std::fprintf(f, "first-paint %.1f\n", ms);
            std::fclose(f);
        }
    }

private:
    bool painted_ = false;
};
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    BareWindow window;
    window.setFixedSize(800, 600);
    window.setWindowTitle(QStringLiteral("bare"));
    window.show();
    return app.exec();
}
