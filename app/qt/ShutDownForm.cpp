// The shutdown prompt: "Shut down now" asks once more and then requests the power-off
// through the platform; every failure there is silent and leaves the prompt open.
#include "app/qt/ShutDownForm.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include "app/qt/MainForm.h"
#include "platform/Platform.h"

namespace {
QFont pixelFont(int pixels) {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(pixels);
    font.setStyleHint(QFont::SansSerif);
    return font;
}
}  // namespace

TShutDownForm::TShutDownForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    qx::InstallFontSubstitutes();
    setWindowTitle(QStringLiteral("Warning"));
    setFont(pixelFont(11));
    setFixedSize(457, 90);

    Label1 = new QLabel(QStringLiteral("Updated successfully, please shut down your system."), this);
    Label1->setFont(pixelFont(16));
    Label1->move(56, 8);
    Label1->adjustSize();

    const QFont buttonFont = pixelFont(13);
    ShutDown = new QPushButton(QStringLiteral("Shut down now"), this);
    ShutDown->setGeometry(115, 47, 100, 20);
    ShutDown->setFont(buttonFont);
    ShutDown->setAutoDefault(false);
    CloseBn = new QPushButton(QStringLiteral("Exit"), this);
    CloseBn->setGeometry(232, 47, 100, 20);
    CloseBn->setFont(buttonFont);
    CloseBn->setAutoDefault(false);
    QWidget::setTabOrder(ShutDown, CloseBn);
    ShutDown->setFocus();

    connect(ShutDown, &QPushButton::clicked, this, [this] { ShutDownClick(); });
    connect(CloseBn, &QPushButton::clicked, this, [this] { CloseBnClick(); });
}

void TShutDownForm::ShutDownClick() {
    qx::RunGuarded(qx::ApplicationTitle(), [] {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"),
                        QStringLiteral("Are you sure shut down your PC"),
                        QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        if (box.exec() != QMessageBox::Ok) return;
        // The result is not shown: when the power-off does not happen, the prompt stays open.
        if (qx::Kernel* kernel = qx::platform().kernel) kernel->shutDownComputer();
    });
}

void TShutDownForm::CloseBnClick() {
    qx::RunGuarded(qx::ApplicationTitle(), [this] { close(); });
}
