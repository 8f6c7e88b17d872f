// TInformationForm: the SMART window. Created once at start, shown modally by "Smart Info";
// "Get Smart Info" reads the chosen drive and lists its report.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

class TInformationForm : public QDialog {
public:
    explicit TInformationForm(QWidget* parent = nullptr);

    void GetSmartInfoBnClick();

    QPlainTextEdit* SMARTMemo = nullptr;
    QPushButton* GetSmartInfoBn = nullptr;
};
