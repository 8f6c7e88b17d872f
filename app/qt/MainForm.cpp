// The main window: layout, first-show work, the drive list's handlers, the buttons, and the
// user seam through which the procedures ask and tell the user.
#include "app/qt/MainForm.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextCursor>

#include <algorithm>
#include <stdexcept>

#include "QXLib/DbgLog.h"
#include "app/qt/JpegPicture.h"
#include "devices/Discovery.h"
#include "devices/Scan.h"
#include "platform/Platform.h"
#include "platform/Wipe.h"
#include "app/qt/InformationForm.h"
#include "smart/SmartReport.h"
#include "update/Package.h"
#include "update/SecureErase.h"
#include "app/qt/ShutDownForm.h"
#include "update/Update.h"

// The icon lives in a resource compiled into a static library: it has to be pulled in by
// name, from the global namespace.
static void initQxResources() { Q_INIT_RESOURCE(qxupdater); }

namespace qx {

namespace {

constexpr int kStatusColumn = 5;

QFont pixelFont(const char* family, int pixels, QFont::StyleHint hint) {
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    font.setStyleHint(hint);
    return font;
}

QMessageBox::Icon toQtIcon(BoxIcon icon) {
    switch (icon) {
        case BoxIcon::Warning: return QMessageBox::Warning;
        case BoxIcon::Error: return QMessageBox::Critical;
        case BoxIcon::Information: return QMessageBox::Information;
        case BoxIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QString fromText(const std::string& text) { return QString::fromStdString(text); }

// Colours each sub-item cell by its text; the row caption keeps the list's own font.
class CellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void optionFor(QStyleOptionViewItem* option, const QModelIndex& index) const {
        initStyleOption(option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == 0) return;
        const QVariant text = index.data(Qt::DisplayRole);
        if (!text.isValid()) return;  // the row has no such sub-item (yet)
        const CellStyle style = SubItemStyle(text.toString().toStdString());
        option->palette.setColor(QPalette::Text, QColor(style.red, style.green, style.blue));
        option->font.setBold(style.bold);
    }
};

}  // namespace

void InstallFontSubstitutes() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    const QStringList narrowSans = {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans Narrow"),
                                    QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                                    QStringLiteral("DejaVu Sans Condensed")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), narrowSans);
    QFont::insertSubstitutions(QStringLiteral("Tahoma"), narrowSans);
    QFont::insertSubstitutions(QStringLiteral("Courier New"),
                               {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")});
}

void ShowErrorBox(const QString& appTitle, const QString& text) {
    QMessageBox box(QMessageBox::Critical, appTitle, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

namespace {
QString& applicationTitleText() {
    static QString title;
    return title;
}
}  // namespace

const QString& ApplicationTitle() { return applicationTitleText(); }

void RunGuarded(const QString& appTitle, const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        ShowErrorBox(appTitle, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ShowErrorBox(appTitle, QString());
    }
}

std::string TakeSecretText(QString& text) {
    QByteArray utf8 = text.toUtf8();
    std::string out(utf8.constData(), static_cast<size_t>(utf8.size()));
    // Freshly made, so not shared: fill() writes into its own bytes.
    utf8.fill('\0');
    utf8.clear();
    // Only characters the string owns on the heap: a literal's (read-only) are no copy of
    // anything typed.
    if (!text.isEmpty() && text.data_ptr().isMutable()) {
        // In place, not through a detaching write: the characters are shared with the
        // strings the line edit and the dialog still hold, and those are to be wiped too.
        WipeBytes(const_cast<QChar*>(text.constData()), static_cast<size_t>(text.size()) * sizeof(QChar));
    }
    text.clear();
    return out;
}

QString QtFileFilter(const std::string& filter) {
    const QStringList parts = fromText(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << QStringLiteral("%1 (%2)").arg(parts[i], patterns.trimmed());
    }
    if (out.isEmpty() && !filter.empty()) out << fromText(filter);
    return out.join(QStringLiteral(";;"));
}

// ---------------------------------------------------------------------------------------
DriveListView::DriveListView(QWidget* parent) : QTableWidget(parent) {
    setItemDelegate(new CellDelegate(this));
    connect(this, &QTableWidget::itemChanged, this,
            [this](QTableWidgetItem* item) { itemChangedSlot(item); });
}

QStyleOptionViewItem DriveListView::cellOption(int row, int column) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex index = model()->index(row, column);
    option.rect = visualRect(index);
    static_cast<CellDelegate*>(itemDelegate())->optionFor(&option, index);
    return option;
}

QRect DriveListView::checkBoxRect(int row) const {
    if (!item(row, 0)) return {};
    const QStyleOptionViewItem option = cellOption(row, 0);
    return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
}

void DriveListView::appendRow(const DriveRow& row) {
    const CheckBoxEdges::RowsChanging adding(edges_);
    const int r = rowCount();
    insertRow(r);
    auto cell = [](const std::string& text) {
        auto* item = new QTableWidgetItem(fromText(text));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        return item;
    };
    QTableWidgetItem* caption = cell(row.caption);
    caption->setFlags(caption->flags() | Qt::ItemIsUserCheckable);
    caption->setCheckState(Qt::Unchecked);
    setItem(r, 0, caption);
    setItem(r, 1, cell(row.model));
    setItem(r, 2, cell(row.serial));
    setItem(r, 3, cell(row.firmware));
    setItem(r, 4, cell(row.capacity));
    edges_.appended(rowCount());
}

void DriveListView::removeAllRows() {
    const CheckBoxEdges::RowsChanging removing(edges_);
    setRowCount(0);
    edges_.cleared();
}

void DriveListView::itemChangedSlot(QTableWidgetItem* changed) {
    if (changed == nullptr || changed->column() != 0) return;
    const int row = changed->row();
    if (edges_.changed(row, changed->checkState() == Qt::Checked) && onItemChecked) onItemChecked(row);
}

// The space bar toggles the box of the focused row, whichever cell has the focus.
void DriveListView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        QTableWidgetItem* caption = item(currentRow(), 0);
        if (caption) {
            caption->setCheckState(caption->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            event->accept();
            return;
        }
    }
    QTableWidget::keyPressEvent(event);
}

// The box changes inside the base handler; the click is reported after it.
void DriveListView::mouseReleaseEvent(QMouseEvent* event) {
    QTableWidget::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && onClick) onClick();
}

HotSpot::HotSpot(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::NoFocus); }

void HotSpot::mousePressEvent(QMouseEvent* event) {
    if (onPress) onPress(event->modifiers());
    event->accept();
}

}  // namespace qx

// ---------------------------------------------------------------------------------------
using qx::BoxIcon;

class TMainForm::Boxes : public qx::CheckBoxes {
public:
    explicit Boxes(qx::DriveListView* list) : list_(list) {}
    int count() override { return list_->rowCount(); }
    bool checked(int row) override {
        QTableWidgetItem* caption = list_->item(row, 0);
        return caption && caption->checkState() == Qt::Checked;
    }
    void setChecked(int row, bool on) override {
        if (QTableWidgetItem* caption = list_->item(row, 0))
            caption->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }

private:
    qx::DriveListView* list_;
};

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    initQxResources();
    qx::InstallFontSubstitutes();
    buildLayout();
    const std::string error = qx::CreateMainState(state_, *this);
    if (!error.empty()) throw std::runtime_error(error);
    appTitle_ = qx::fromText(state_.appTitle);
    qx::applicationTitleText() = appTitle_;
    setWindowTitle(qx::fromText(state_.caption));
    centreOnScreen();
}

TMainForm::~TMainForm() = default;

void TMainForm::buildLayout() {
    using qx::pixelFont;
    setFont(pixelFont("MS Sans Serif", 11, QFont::SansSerif));
    setFixedSize(800, 600);

    // Created first, so drawn behind everything else.
    Image2 = new QLabel(this);
    Image2->setGeometry(0, 0, 801, 601);
    Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image2->setFocusPolicy(Qt::NoFocus);
    Image2->hide();

    // Under the buttons: a press where a button lies goes to the button.
    Shape1 = new qx::HotSpot(this);
    Shape1->setGeometry(2, 529, 15, 15);
    Shape1->onPress = [this](Qt::KeyboardModifiers modifiers) { SpecialTipShapeMouseDown(modifiers); };

    DeviceList = new QComboBox(this);
    DeviceList->setGeometry(8, 408, 441, 21);
    DeviceList->setFocusPolicy(Qt::NoFocus);
    DeviceList->hide();

    ListView1 = new qx::DriveListView(this);
    ListView1->setGeometry(0, 117, 802, 218);
    ListView1->setFont(pixelFont("Courier New", 11, QFont::TypeWriter));
    ListView1->setColumnCount(6);
    ListView1->setHorizontalHeaderLabels({QStringLiteral("Disk"), QStringLiteral("Model"),
                                          QStringLiteral("Serial No."), QStringLiteral("FW Rev."),
                                          QStringLiteral("Capacity(GB)"), QStringLiteral("Status")});
    const int widths[] = {43, 270, 160, 90, 105, 130};
    for (int c = 0; c < 6; ++c) ListView1->setColumnWidth(c, widths[c]);
    QHeaderView* header = ListView1->horizontalHeader();
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setMinimumSectionSize(8);
    ListView1->verticalHeader()->hide();
    ListView1->verticalHeader()->setDefaultSectionSize(QFontMetrics(ListView1->font()).height() + 5);
    ListView1->setShowGrid(true);
    ListView1->setSortingEnabled(false);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setTabKeyNavigation(false);
    ListView1->setWordWrap(false);
    ListView1->setCornerButtonEnabled(false);
    ListView1->onItemChecked = [this](int row) { ListView1ItemChecked(row); };
    ListView1->onClick = [this] { ListView1Click(); };

    Memo1 = new QPlainTextEdit(this);
    Memo1->setGeometry(2, 342, 794, 147);
    Memo1->setFont(pixelFont("Courier New", 12, QFont::TypeWriter));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setTabChangesFocus(true);

    const QFont buttonFont = pixelFont("MS Sans Serif", 13, QFont::SansSerif);
    auto button = [&](const char* caption, int left, int width, bool enabled) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setGeometry(left, 528, width, 20);
        b->setFont(buttonFont);
        b->setAutoDefault(false);
        b->setEnabled(enabled);
        return b;
    };
    SecureEraseBtn = button("Secure Erase", 8, 111, false);
    SmartInfoBtn = button("Smart Info", 125, 111, false);
    ScanBn = button("Scan for Drives", 463, 100, true);
    DownloadCodeBtn = button("Update Firmware", 572, 111, false);
    CloseBn = button("Exit", 692, 100, true);
    connect(SecureEraseBtn, &QPushButton::clicked, this, [this] { SecureEraseBtnClick(); });
    connect(SmartInfoBtn, &QPushButton::clicked, this, [this] { SmartInfoBtnClick(); });
    connect(ScanBn, &QPushButton::clicked, this, [this] { ScanBnClick(); });
    connect(DownloadCodeBtn, &QPushButton::clicked, this, [this] { DownloadCodeBtnClick(); });
    connect(CloseBn, &QPushButton::clicked, this, [this] { CloseBnClick(); });

    QWidget::setTabOrder(ListView1, ScanBn);
    QWidget::setTabOrder(ScanBn, DownloadCodeBtn);
    QWidget::setTabOrder(DownloadCodeBtn, CloseBn);
    QWidget::setTabOrder(CloseBn, Memo1);
    QWidget::setTabOrder(Memo1, SecureEraseBtn);
    QWidget::setTabOrder(SecureEraseBtn, SmartInfoBtn);
    ListView1->setFocus();
}

void TMainForm::setModalForms(TShutDownForm* shutDown, TInformationForm* information) {
    shutDownForm_ = shutDown;
    informationForm_ = information;
}

void TMainForm::setCaption(const std::string& caption) {
    state_.caption = caption;
    setWindowTitle(qx::fromText(caption));
}

void TMainForm::centreOnScreen() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void TMainForm::guarded(const std::function<void()>& body) { qx::RunGuarded(appTitle_, body); }

// ---------------------------------------------------------------------------------------
// Showing, scanning, closing.

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Shown by the program (not restored by the window manager): the window's show work.
    // The first-show work comes before the window is painted; the scan right after the
    // first paint, so the window is on the screen while the drives answer.
    if (event->spontaneous()) return;
    bool shown = false;
    guarded([&] { shown = !state_.FirstShow || firstShowWork(); });
    if (!shown) return;
    scanPending_ = true;
    update();
}

void TMainForm::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // Queued behind this paint: the window and its controls are drawn and flushed first.
    if (scanPending_ && !scanQueued_) {
        scanQueued_ = true;
        QMetaObject::invokeMethod(this, [this] { runScanAfterPaint(); }, Qt::QueuedConnection);
    }
}

void TMainForm::runScanAfterPaint() {
    scanQueued_ = false;
    if (!scanPending_) return;
    scanPending_ = false;
    if (onMilestone) onMilestone("first-paint");
    guarded([this] { scanWork(); });
    if (onMilestone) onMilestone("list-filled");
}

bool TMainForm::firstShowWork() {
    setWindowIcon(QIcon(QStringLiteral(":/ICON_DEFAULT")));
    if (state_.PackageMode) {
        const qx::PackageShowing showing = qx::ReadPackageShowing(state_);
        if (showing.opened) setCaption(showing.caption);
        if (showing.decodePicture) {
            QImage picture;
            QString error;
            if (!qx::DecodeJpeg(showing.picture.data(), showing.picture.size(), picture, error)) {
                qx::ShowErrorBox(appTitle_, error);
                return false;
            }
            Image2->setPixmap(QPixmap::fromImage(picture));
        }
        Image2->setVisible(showing.pictureFlag);
        return true;
    }
    const QFileInfo file(QStringLiteral("GUI_Main.jpg"));  // the current working directory
    if (file.exists() && !file.isDir()) {
        QImage picture;
        QString error;
        if (!qx::LoadJpegFile(file.filePath(), picture, error)) {
            qx::ShowErrorBox(appTitle_, error);
            return false;
        }
        Image2->setPixmap(QPixmap::fromImage(picture));
        Image2->setGeometry(0, 0, picture.width(), picture.height());
        setFixedSize(picture.width(), picture.height());
        if (!isVisible()) centreOnScreen();
        Image2->setVisible(state_.customBkImage != 0);
    }
    return true;
}

void TMainForm::FormShow() {
    guarded([this] {
        if (state_.FirstShow) {
            // A picture that cannot be decoded stops this showing: no scan, and the
            // first-show work is tried again at the next showing.
            if (!firstShowWork()) return;
        }
        scanWork();
    });
}

void TMainForm::scanWork() {
    state_.FirstShow = false;
    qx::ScanWork(state_, *this);
    syncDeviceList();
}

void TMainForm::syncDeviceList() {
    DeviceList->clear();
    for (const std::string& entry : state_.DeviceList) DeviceList->addItem(qx::fromText(entry));
    DeviceList->setCurrentIndex(state_.deviceListSelected < DeviceList->count() ? state_.deviceListSelected
                                                                                : -1);
}

void TMainForm::ScanBnClick() {
    scanPending_ = false;  // this scan replaces the one still waiting for the first paint
    guarded([this] {
        qx::RescanDevices();
        notice(state_.caption, "Device scan is finished", BoxIcon::None);
    });
    FormShow();
}

void TMainForm::CloseBnClick() {
    guarded([this] { close(); });
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // "Exit" is disabled while an action runs; the title bar's close button and Alt-F4 are
    // refused the same way, so an update or erase is never cut off half-way.
    if (state_.actionRunning) {
        event->ignore();
        return;
    }
    event->accept();
}

void TMainForm::SpecialTipShapeMouseDown(Qt::KeyboardModifiers modifiers) {
    guarded([&] {
        if (!(modifiers & Qt::ControlModifier)) return;
        qx::RDMode = true;
        notice(state_.appTitle, "Turn on RD mode", BoxIcon::None);
    });
}

void TMainForm::runAction(void (*procedure)(qx::MainState&, qx::UserSeam&)) {
    guarded([&] { qx::RunAction(state_, *this, procedure); });
}

void TMainForm::DownloadCodeBtnClick() { runAction(&qx::DownloadCodeBtnClick); }
void TMainForm::SecureEraseBtnClick() { runAction(&qx::SecureEraseBtnClick); }
void TMainForm::SmartInfoBtnClick() { runAction(&qx::SmartInfoBtnClick); }

void TMainForm::ListView1ItemChecked(int row) {
    guarded([&] {
        Boxes boxes(ListView1);
        qx::ListView1ItemChecked(state_, boxes, row);
    });
}

void TMainForm::ListView1Click() {
    guarded([&] {
        Boxes boxes(ListView1);
        qx::ListView1Click(state_, boxes);
    });
}

// ---------------------------------------------------------------------------------------
// The user seam.

bool TMainForm::confirm(const std::string& caption, const std::string& text, BoxIcon icon) {
    QMessageBox box(qx::toQtIcon(icon), qx::fromText(caption), qx::fromText(text),
                    QMessageBox::Ok | QMessageBox::Cancel);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void TMainForm::notice(const std::string& caption, const std::string& text, BoxIcon icon) {
    QMessageBox box(qx::toQtIcon(icon), qx::fromText(caption), qx::fromText(text), QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

std::string TMainForm::askText(const std::string& caption, const std::string& prompt,
                               const std::string& def) {
    // The text is a password: the strings that hold it here are wiped before the dialog
    // goes (the caller wipes the copy it gets).
    QInputDialog dialog;
    dialog.setWindowTitle(qx::fromText(caption));
    dialog.setLabelText(qx::fromText(prompt));
    dialog.setTextEchoMode(QLineEdit::Normal);
    dialog.setTextValue(qx::fromText(def));
    const bool accepted = dialog.exec() == QDialog::Accepted;
    QString typed = dialog.textValue();
    std::string text = qx::TakeSecretText(typed);
    if (auto* edit = dialog.findChild<QLineEdit*>()) {
        QString shown = edit->text();
        qx::TakeSecretText(shown);
        edit->setText(QString());  // also drops the line edit's undo history
    }
    dialog.setTextValue(QString());
    if (!accepted) {
        text.assign(text.size(), '\0');
        return def;
    }
    return text;
}

std::string TMainForm::chooseFile(const std::string& filter, const std::string& defaultExt,
                                  std::string& initialDir) {
    QFileDialog dialog(nullptr, QString(), qx::fromText(initialDir), qx::QtFileFilter(filter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    QString suffix = qx::fromText(defaultExt);
    if (suffix.startsWith(QLatin1Char('.'))) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty()) return {};
    initialDir = QFileInfo(files.first()).absolutePath().toStdString();
    return QDir::toNativeSeparators(files.first()).toStdString();
}

void TMainForm::appendLog(const std::string& line) {
    // Each line ends with its line break, as the log box's lines do.
    QTextCursor cursor(Memo1->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(qx::fromText(line) + QLatin1Char('\n'));
    Memo1->verticalScrollBar()->setValue(Memo1->verticalScrollBar()->maximum());
}

void TMainForm::clearLog() { Memo1->clear(); }

int TMainForm::rowCount() { return ListView1->rowCount(); }

bool TMainForm::rowChecked(int row) {
    QTableWidgetItem* caption = ListView1->item(row, 0);
    return caption && caption->checkState() == Qt::Checked;
}

void TMainForm::setRowStatus(int row, const std::string& text) {
    if (row < 0 || row >= ListView1->rowCount()) return;
    if (QTableWidgetItem* status = ListView1->item(row, qx::kStatusColumn)) {
        status->setText(qx::fromText(text));
        return;
    }
    auto* status = new QTableWidgetItem(qx::fromText(text));
    status->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    ListView1->setItem(row, qx::kStatusColumn, status);
}

void TMainForm::clearRows() { ListView1->removeAllRows(); }

void TMainForm::addRow(const qx::DriveRow& row) { ListView1->appendRow(row); }

void TMainForm::enableScanAndExit(bool on) {
    ScanBn->setEnabled(on);
    CloseBn->setEnabled(on);
}

void TMainForm::enableActions(bool on) {
    DownloadCodeBtn->setEnabled(on);
    SecureEraseBtn->setEnabled(on);
    SmartInfoBtn->setEnabled(on);
}

void TMainForm::pause(uint32_t ms) {
    qx::PauseWhilePumping(ms, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return true;
    });
}

void TMainForm::showShutdownPrompt() {
    if (shutDownForm_) shutDownForm_->exec();
}

void TMainForm::showSmartWindow() {
    if (informationForm_) informationForm_->exec();
}
