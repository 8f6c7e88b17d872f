// The SMART window: a read-only text box of report lines and the button that reads them.
// A failed read leaves the box as it was.
#include "app/qt/InformationForm.h"

#include <QPlainTextEdit>
#include <QPushButton>

#include <string>
#include <vector>

#include "app/qt/MainForm.h"
#include "smart/SmartReport.h"

TInformationForm::TInformationForm(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint) {
    qx::InstallFontSubstitutes();
    setWindowTitle(QStringLiteral("SMART Info"));
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    setFont(font);
    setSizeGripEnabled(false);
    // 385 x 500 outside, with the borders and title bar of a sizeable window.
    resize(377, 466);

    SMARTMemo = new QPlainTextEdit(this);
    SMARTMemo->setGeometry(8, 16, 361, 289);
    SMARTMemo->setReadOnly(true);
    SMARTMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    SMARTMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SMARTMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette palette = SMARTMemo->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    SMARTMemo->setPalette(palette);

    GetSmartInfoBn = new QPushButton(QStringLiteral("Get Smart Info"), this);
    GetSmartInfoBn->setGeometry(136, 408, 91, 25);
    GetSmartInfoBn->setAutoDefault(false);
    QWidget::setTabOrder(SMARTMemo, GetSmartInfoBn);
    SMARTMemo->setTabChangesFocus(true);

    connect(GetSmartInfoBn, &QPushButton::clicked, this, [this] { GetSmartInfoBnClick(); });
}

void TInformationForm::GetSmartInfoBnClick() {
    qx::RunGuarded(qx::ApplicationTitle(), [this] {
        std::vector<std::string> lines;
        if (!qx::GetSMARTInfo(lines)) return;
        SMARTMemo->clear();
        for (const std::string& line : lines) SMARTMemo->appendPlainText(QString::fromStdString(line));
    });
}
