// TShutDownForm: the prompt shown after a firmware update in which a drive passed. It
// tells the user to shut the computer down and offers to power it off at once.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TShutDownForm : public QDialog {
public:
    explicit TShutDownForm(QWidget* parent = nullptr);

    void ShutDownClick();
    void CloseBnClick();

    QLabel* Label1 = nullptr;
    QPushButton* ShutDown = nullptr;
    QPushButton* CloseBn = nullptr;
};
