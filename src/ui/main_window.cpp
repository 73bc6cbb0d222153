// The setup window: construction, its controls and the commands of its buttons.
#include "main_window.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QScrollArea>
#include <QSystemTrayIcon>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "advanced.h"
#include "config/ini.h"
#include "config/options.h"
#include "config/utilities.h"
#include "controlids.h"
#include "job_list.h"
#include "platform/sysinfo.h"
#include "printer_choice.h"
#include "qt_report.h"
#include "session/printer_session.h"
#include "uitext.h"

// The icons live in this static library; its resources need an explicit start.
static void InitUiResources() {
    Q_INIT_RESOURCE(ui);
}

namespace ui {

namespace {

bool DefaultMessageBox(QWidget* parent, const QString& text, MessageKind kind) {
    const QString title = UiText(config::MSG_TITLE);
    switch (kind) {
    case MessageKind::Question:
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    case MessageKind::Information:
        QMessageBox::information(parent, title, text, QMessageBox::Ok);
        break;
    case MessageKind::Warning:
        QMessageBox::warning(parent, title, text, QMessageBox::Ok);
        break;
    case MessageKind::Critical:
        QMessageBox::critical(parent, title, text, QMessageBox::Ok);
        break;
    }
    return true;
}

QString DefaultSaveSessionFile(QWidget* parent) {
    QFileDialog dlg(parent);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix("twr");
    dlg.setNameFilters({"twprinter session files (*.twr)", "All files (*)"});
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
}

bool DefaultOpenHelp(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString DefaultChooseFile(QWidget* parent, const QString& title, const QString& current) {
    return QFileDialog::getOpenFileName(parent, title, current);
}

void DefaultOpenFolder(const QString& folder) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}

} // namespace

DialogHooks& Hooks() {
    static DialogHooks hooks{DefaultMessageBox, DefaultSaveSessionFile, ChoosePrinter,
                             DefaultOpenHelp,   DefaultChooseFile,      DefaultOpenFolder};
    return hooks;
}

MainWindow::MainWindow(QWidget* parent) : QDialog(parent) {
    InitUiResources();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
    setWindowIcon(QIcon(":/icons/twprinter.svg"));
    BuildControls();
    SetTabOrder();
    ConnectSignals();
    BuildTray();
    report_ = std::make_unique<QtReport>(this);
    FitToScreen();
}

void MainWindow::FitToScreen() {
    // The whole window when the screen has room, else as much as fits: the
    // scroll area reaches the rest.
    auto* area = findChild<QScrollArea*>();
    QSize want = area->widget()->sizeHint() + QSize(2, 2);
    want += QSize(layout()->contentsMargins().left() + layout()->contentsMargins().right(),
                  layout()->contentsMargins().top() + layout()->contentsMargins().bottom());
    const QScreen* sc = screen() ? screen() : QGuiApplication::primaryScreen();
    if (sc) {
        // Room for the frame and the title bar the window manager adds.
        const QSize room = sc->availableGeometry().size() - QSize(16, 48);
        want = want.boundedTo(room);
    }
    resize(want);
}

MainWindow::~MainWindow() {
    if (stopper_.joinable()) stopper_.join();
    // The session's last reports are queued to this window: none may outlive it.
    if (session_) session_->Stop();
}

QWidget* MainWindow::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void MainWindow::BuildControls() {
    // Dialog units follow the font, so the proportions hold at any font and DPI.
    const QFontMetrics fm(font());
    const int duX = std::max(1, fm.averageCharWidth());
    auto du = [duX](int w) { return w * duX / 4; };

    auto reg = [this](int id, QWidget* w) {
        if (id) controls_[id] = w;
        w->setProperty("controlId", id);
        return w;
    };
    auto label = [&](int id, const QString& text, Qt::Alignment align = Qt::AlignLeft) {
        auto* l = new QLabel(text);
        l->setAlignment(align | Qt::AlignVCenter);
        reg(id, l);
        return l;
    };
    auto edit = [&](int id, int widthDu) {
        auto* e = new QLineEdit;
        e->setMinimumWidth(du(widthDu));
        reg(id, e);
        return e;
    };
    auto radio = [&](int id, const QString& text) {
        auto* r = new QRadioButton(text);
        reg(id, r);
        return r;
    };
    auto check = [&](int id, const QString& text) {
        auto* c = new QCheckBox(text);
        reg(id, c);
        return c;
    };
    auto button = [&](int id, const QString& text) {
        auto* b = new QPushButton(text);
        b->setAutoDefault(false);
        b->setMinimumWidth(du(50));
        reg(id, b);
        return b;
    };
    const auto right = Qt::AlignRight;
    const auto digits = new QRegularExpressionValidator(QRegularExpression("[0-9]*"), this);

    // Connection parameters.
    auto* conn = new QGroupBox("Connection parameters");
    reg(control::kGroupConnection, conn);
    // Three bands, each a grid whose columns follow the dialog-unit widths.
    auto* cv = new QVBoxLayout(conn);
    auto* statusRow = new QHBoxLayout;
    cv->addLayout(statusRow);
    // A box of its own: a long failure wraps and scrolls inside it, never pushing the
    // buttons out of the window.
    status_ = new QPlainTextEdit(UiText(config::MSG_OFFLINE));
    reg(control::kStatusText, status_);
    status_->setReadOnly(true);
    status_->setFrameShape(QFrame::NoFrame);
    status_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    status_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    status_->setBackgroundRole(QPalette::Window);
    status_->viewport()->setAutoFillBackground(false);
    status_->document()->setDocumentMargin(0);
    status_->setFixedHeight(fm.lineSpacing() * 4 + 4);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    auto* statusLabel = label(0, "Status:");
    statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusLabel->setMinimumWidth(du(37));
    statusRow->addWidget(statusLabel);
    statusRow->addWidget(status_, 1);

    auto* ga = new QGridLayout;
    cv->addLayout(ga);
    ga->addWidget(label(control::kHostnameLabel, "Host name:"), 0, 0);
    host_ = edit(control::kHostname, 57);
    ga->addWidget(host_, 0, 1);
    ga->addWidget(label(control::kPortnumberLabel, "Port number:", right), 0, 2);
    portNumber_ = edit(control::kPortnumber, 57);
    ga->addWidget(portNumber_, 0, 3, 1, 2);
    ga->addWidget(label(control::kLutypeLabel, "Lu type:"), 1, 0);
    luType_ = new QComboBox;
    luType_->addItems({"1", "3"});
    luType_->setToolTip("1: SCS printer data; 3: 3270 data stream");
    reg(control::kLutype, luType_);
    ga->addWidget(luType_, 1, 1, Qt::AlignLeft);
    ga->addWidget(label(0, "Connection Timeout:", right), 1, 2);
    timeout_ = edit(control::kConnecttimeout, 40);
    timeout_->setMaximumWidth(du(40));
    timeout_->setValidator(digits);
    ga->addWidget(timeout_, 1, 3);
    ga->addWidget(label(0, "seconds"), 1, 4);
    const int widthsA[] = {47, 57, 66, 40, 28};
    for (int c = 0; c < 5; ++c)
        ga->setColumnStretch(c, widthsA[c]);

    r3270_ = radio(control::k3270, "&3270");
    r3270E_ = radio(control::k3270e, "3270&E");
    sessionIdLabel_ = label(control::kSessionidLabel, "Session ID:", right);
    sessionId_ = edit(control::kSessionid, 57);
    addressLabel_ = label(control::kAddressLabel, "Address:", right);
    address_ = edit(control::kAddress, 57);
    connectLabel_ = label(control::kConnectnameLabel, "Connect name:", right);
    connectName_ = edit(control::kConnectname, 57);
    associateLabel_ = label(control::kAssociatenameLabel, "Associate name:", right);
    associateLabel_->setWordWrap(true);
    associateName_ = edit(control::kAssociatename, 57);
    auto* gb = new QGridLayout;
    cv->addLayout(gb);
    gb->addWidget(r3270_, 0, 0);
    gb->addWidget(sessionIdLabel_, 0, 1);
    gb->addWidget(sessionId_, 0, 2);
    gb->addWidget(addressLabel_, 0, 3);
    gb->addWidget(address_, 0, 4);
    gb->addWidget(r3270E_, 1, 0);
    gb->addWidget(connectLabel_, 1, 1);
    gb->addWidget(connectName_, 1, 2);
    gb->addWidget(associateLabel_, 1, 3);
    gb->addWidget(associateName_, 1, 4);
    const int widthsB[] = {38, 49, 57, 35, 57};
    for (int c = 0; c < 5; ++c)
        gb->setColumnStretch(c, widthsB[c]);
    auto* emulation = new QButtonGroup(this);
    emulation->addButton(r3270_);
    emulation->addButton(r3270E_);

    // Output.
    auto* out = new QGroupBox("Output");
    auto* og = new QGridLayout(out);
    portChoice_ = radio(control::kPortchoice, "Print to port (LPT/COM):");
    socketChoice_ = radio(control::kSocketchoice, "Print to socket (port number):");
    fileChoice_ = radio(control::kFilechoice, "Print to file (path name):");
    printerChoice_ = radio(control::kPrinterchoice, "Print to printer (job name):");
    portName_ = edit(control::kPortname, 57);
    socketPort_ = edit(control::kSocketport, 57);
    fileName_ = edit(control::kFilename, 57);
    jobName_ = edit(control::kJobname, 57);
    og->addWidget(portChoice_, 0, 0, 1, 2);
    og->addWidget(portName_, 0, 2);
    og->addWidget(socketChoice_, 1, 0, 1, 2);
    og->addWidget(socketPort_, 1, 2);
    og->addWidget(fileChoice_, 2, 0, 1, 2);
    og->addWidget(fileName_, 2, 2);
    og->addWidget(printerChoice_, 3, 0, 1, 2);
    og->addWidget(jobName_, 3, 2);
    printer_ = new PrinterChoice;
    printer_->setToolTip("The CUPS printer of the printer choice; the list comes from CUPS");
    reg(control::kPrintername, printer_);
    og->addWidget(label(0, "on CUPS printer:", right), 4, 0, 1, 2);
    og->addWidget(printer_, 4, 2);
    headings_ = check(control::kHeadings, "Print Headings");
    printAfter_ = check(control::kPrintafter, "Print Page after lines");
    lines_ = edit(control::kLines, 25);
    lines_->setMaximumWidth(du(40));
    lines_->setValidator(digits);
    og->addWidget(headings_, 5, 0);
    og->addWidget(printAfter_, 5, 1);
    og->addWidget(lines_, 5, 2, Qt::AlignRight);
    auto* medium = new QButtonGroup(this);
    for (auto* r : {portChoice_, socketChoice_, fileChoice_, printerChoice_})
        medium->addButton(r);

    // Startup and the about frame.
    auto* startup = new QGroupBox("Startup");
    reg(control::kGroupStartup, startup);
    auto* sg = new QVBoxLayout(startup);
    autoChoice_ = radio(control::kAuto, "&Auto");
    manualChoice_ = radio(control::kManual, "&Manual");
    startVisible_ = check(control::kStartvisible, "Start visible");
    sg->addWidget(autoChoice_);
    sg->addWidget(manualChoice_);
    sg->addWidget(startVisible_);
    auto* startGroup = new QButtonGroup(this);
    startGroup->addButton(autoChoice_);
    startGroup->addButton(manualChoice_);

    auto* about = new QFrame;
    about->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* ag = new QGridLayout(about);
    auto* icon = new QLabel;
    icon->setPixmap(QIcon(":/icons/twprinter.svg").pixmap(32, 32));
    auto* product = label(0, "twprinter", Qt::AlignHCenter);
    product->setWordWrap(true);
    ag->addWidget(icon, 0, 0, Qt::AlignTop);
    ag->addWidget(product, 0, 1);
    ag->addWidget(label(control::kVersion, "Version: 1.5.1", Qt::AlignHCenter), 1, 0, 1, 2);

    auto* rightCol = new QVBoxLayout;
    rightCol->addWidget(startup);
    rightCol->addWidget(about);
    auto* middle = new QHBoxLayout;
    middle->addWidget(out, 193);
    middle->addLayout(rightCol, 79);

    validation_ = label(control::kValidation, "", Qt::AlignHCenter);
    validation_->setWordWrap(true);
    validation_->setStyleSheet("color: #b00020");

    auto* buttons = new QGridLayout;
    start_ = button(control::kStart, "&Start");
    start_->setDefault(true);
    stop_ = button(control::kStop, "S&top");
    hide_ = button(control::kHide, "H&ide");
    printerSetup_ = button(control::kPrintersetup, "&Printer setup");
    save_ = button(control::kSave, "&Save");
    undo_ = button(control::kUndo, "&Undo");
    exit_ = button(control::kExit, "&Exit");
    help_ = button(control::kHelp, "&Help");
    advanced_ = button(control::kAdvanced, "A&dvanced...");
    int col = 0;
    for (auto* b : {start_, stop_, hide_, printerSetup_})
        buttons->addWidget(b, 0, col++);
    col = 0;
    for (auto* b : {save_, undo_, exit_, help_})
        buttons->addWidget(b, 1, col++);
    buttons->addWidget(advanced_, 0, col);
    buttons->setHorizontalSpacing(du(12));

    // A small or magnified screen scrolls the setup instead of cutting it off.
    auto* content = new QWidget;
    auto* inner = new QVBoxLayout(content);
    inner->addWidget(conn);
    inner->addLayout(middle);
    jobList_ = new JobList;
    reg(control::kJobList, jobList_->Tree());
    reg(control::kOpenFolder, jobList_->OpenFolder());
    inner->addWidget(jobList_);
    inner->addWidget(validation_);
    inner->addLayout(buttons);
    inner->addStretch(1);
    auto* area = new QScrollArea;
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(content);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(area);
}

void MainWindow::SetTabOrder() {
    const QWidget* order[] = {
        host_,         portNumber_, luType_,      timeout_,       r3270_,         r3270E_,
        sessionId_,    address_,    connectName_, associateName_, portChoice_,    portName_,
        socketChoice_, socketPort_, fileChoice_,  fileName_,      printerChoice_, jobName_,
        headings_,     printAfter_, lines_,       autoChoice_,    manualChoice_,  startVisible_,
        start_,        stop_,       hide_,        printerSetup_,  advanced_,      save_,
        undo_,         exit_,       help_};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void MainWindow::ConnectSignals() {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_})
        connect(e, &QLineEdit::textChanged, this, [this] { UpdateStartButton(); });
    connect(luType_, &QComboBox::activated, this, [this](int at) {
        // A value of the file that is neither 1 nor 3 goes once another is chosen.
        while (at < 2 && luType_->count() > 2)
            luType_->removeItem(2);
        choicesChanged_ = true;
        UpdateStartButton();
    });
    connect(printer_, &PrinterChoice::chosen, this, [](const QString& name) {
        // Like the printer setup, the choice is the INI file's at once.
        config::IniSet("PRINTER", name.toStdString());
    });

    connect(r3270_, &QRadioButton::clicked, this, [this] {
        EnableStartIfValid();
        Set3270Enabling(true);
        choicesChanged_ = true;
    });
    connect(r3270E_, &QRadioButton::clicked, this, [this] {
        EnableStartIfValid();
        sessionIdLabel_->setEnabled(false);
        sessionId_->setEnabled(false);
        addressLabel_->setEnabled(false);
        address_->setEnabled(false);
        choicesChanged_ = true;
    });
    auto medium = [this](QRadioButton* r, void (MainWindow::*select)(int)) {
        connect(r, &QRadioButton::clicked, this, [this, r, select] {
            (this->*select)(r->isChecked() ? 1 : 0);
            EnableStartIfValid();
            choicesChanged_ = true;
        });
    };
    medium(portChoice_, &MainWindow::SelectPortOutput);
    medium(socketChoice_, &MainWindow::SelectSocketOutput);
    medium(fileChoice_, &MainWindow::SelectFileOutput);
    medium(printerChoice_, &MainWindow::SelectPrinterOutput);
    connect(headings_, &QCheckBox::clicked, this, [this] {
        headingsOn_ = headings_->isChecked();
        choicesChanged_ = true;
    });
    for (auto* r : {autoChoice_, manualChoice_})
        connect(r, &QRadioButton::clicked, this, [this] { choicesChanged_ = true; });

    connect(start_, &QPushButton::clicked, this, &MainWindow::StartClient);
    connect(stop_, &QPushButton::clicked, this, &MainWindow::StopClient);
    connect(hide_, &QPushButton::clicked, this, &MainWindow::HideCommand);
    connect(printerSetup_, &QPushButton::clicked, this, &MainWindow::PrinterSetup);
    connect(save_, &QPushButton::clicked, this, &MainWindow::SaveCommand);
    connect(undo_, &QPushButton::clicked, this, &MainWindow::UndoCommand);
    connect(exit_, &QPushButton::clicked, this, &MainWindow::RequestExit);
    connect(help_, &QPushButton::clicked, this, &MainWindow::ShowHelp);
    connect(advanced_, &QPushButton::clicked, this, &MainWindow::OpenAdvancedSettings);
}

void MainWindow::ShowSettings() {
    if (config::gDebug || config::ParseCommandWords(platform::CommandArgs()).Has("-d")) {
        config::DebugOpen();
        config::gDebug = 1;
    }
    config::EnsureDefaultIni();
    if (config::IniGet("AUTOSTART", "0") == "1") {
        autoStart_ = true;
    } else {
        // The options write the INI keys they name, so the fields show them.
        config::Settings options;
        if (LoadSettings(config::gIniPath, platform::CommandArgs(), false, options).code ==
            config::kConflictingNames)
            std::exit(10);
    }
    SetControlTexts();
    QString path;
    if (FindSessionFileArgument(path)) {
        ReadSessionFile(path);
        fieldsReady_ = true;
        UpdateStartButton();
    } else {
        LoadFieldsFromIni();
        fieldsReady_ = true;
        sessionFileInForce_ = false;
        UpdateStartButton();
    }
}

void MainWindow::SetControlTexts() {
    setWindowTitle(UiText(config::MSG_TITLE));
    start_->setText(UiText(config::MSG_TEXT_START));
    stop_->setText(UiText(config::MSG_TEXT_STOP));
    hide_->setText(UiText(config::MSG_TEXT_HIDE));
    printerSetup_->setText(UiText(config::MSG_TEXT_PRINTER_SETUP));
    save_->setText(UiText(config::MSG_TEXT_SAVE));
    undo_->setText(UiText(config::MSG_TEXT_UNDO));
    exit_->setText(UiText(config::MSG_TEXT_EXIT));
    help_->setText(UiText(config::MSG_TEXT_HELP));
    ControlAs<QLabel>(control::kHostnameLabel)->setText(UiText(config::MSG_TEXT_HOST_NAME));
    ControlAs<QLabel>(control::kPortnumberLabel)->setText(UiText(config::MSG_TEXT_PORT_NUMBER));
    sessionIdLabel_->setText(UiText(config::MSG_TEXT_SESSION_ID));
    addressLabel_->setText(UiText(config::MSG_TEXT_ADDRESS));
    ControlAs<QLabel>(control::kLutypeLabel)->setText(UiText(config::MSG_TEXT_LU_TYPE));
    connectLabel_->setText(UiText(config::MSG_TEXT_CONNECT_NAME));
    associateLabel_->setText(UiText(config::MSG_TEXT_ASSOCIATE_NAME));
    ControlAs<QGroupBox>(control::kGroupStartup)->setTitle(UiText(config::MSG_TEXT_STARTUP));
    ControlAs<QLabel>(control::kVersion)->setText(QString("Version: %1").arg(kVersion));
    autoChoice_->setText(UiText(config::MSG_TEXT_AUTO));
    manualChoice_->setText(UiText(config::MSG_TEXT_MANUAL));
    startVisible_->setText(UiText(config::MSG_TEXT_START_VISIBLE));
}

} // namespace ui
