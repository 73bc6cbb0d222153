#include "mainwindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
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
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSystemTrayIcon>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

#include "advanced.h"
#include "config/ini.h"
#include "config/options.h"
#include "config/report.h"
#include "config/utilities.h"
#include "controlids.h"
#include "platform/sysinfo.h"
#include "session/session.h"
#include "uitext.h"

// The icons live in this static library; its resources need an explicit start.
static void InitUiResources() {
    Q_INIT_RESOURCE(ui);
}

namespace ui {

int gFieldsReady = 0;
int gValidationMessage = 0;

namespace {

bool DefaultMessageBox(QWidget* parent, const QString& text, bool yesNo) {
    const QString title = UiText(MSG_TITLE);
    if (yesNo)
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
    return true;
}

QString DefaultSaveSessionFile(QWidget* parent) {
    QFileDialog dlg(parent);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix("twr");
    dlg.setNameFilters({"Tarn3278 Session files (*.twr)", "All files (*)"});
    dlg.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return {};
    return dlg.selectedFiles().first();
}

QString DefaultChoosePrinter(QWidget* parent) {
    QPrinter printer;
    QPrintDialog dlg(&printer, parent);
    // The full dialog, without page range, selection and print to file.
    dlg.setOptions(QAbstractPrintDialog::PrintCollateCopies |
                   QAbstractPrintDialog::PrintShowPageSize);
    if (dlg.exec() != QDialog::Accepted) return {};
    return printer.printerName();
}

bool DefaultOpenHelp(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::string Std(const QString& s) {
    return s.toStdString();
}
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QString Get(const char* key, const char* def) {
    return Q(IniGet(key, def));
}
void Put(const char* key, const QString& value) {
    IniSet(key, Std(value));
}
const char* Flag(bool on) {
    return on ? "1" : "0";
}

} // namespace

DialogHooks& Hooks() {
    static DialogHooks hooks{DefaultMessageBox, DefaultSaveSessionFile, DefaultChoosePrinter,
                             DefaultOpenHelp};
    return hooks;
}

long ReadNumber(const QString& text) {
    const std::string s = Std(text);
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    long value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        if (value < 100000000L) value = value * 10 + (s[i] - '0');
    }
    return negative ? -value : value;
}

// Forwards the client thread's reports to the window thread; never touches a
// widget itself.
class QtReport : public UiReport {
  public:
    explicit QtReport(PrinterClientDialog* dlg) : dlg_(dlg) {}
    void ShowOnlineState(bool online) override {
        Post([d = dlg_, online] { d->ShowOnlineState(online); });
    }
    void ShowStatusMessage(int code, const std::string& text) override {
        Post([d = dlg_, code, t = Q(text)] { d->ShowStatusMessage(code, t); });
    }
    void ShowMessageBox(const std::string& text) override {
        Post([d = dlg_, t = Q(text)] { d->ShowFinalMessage(t); });
    }
    bool AskYesNo(const std::string& question) override {
        bool yes = false;
        auto ask = [&] { yes = Hooks().messageBox(dlg_, Q(question), true); };
        if (QThread::currentThread() == dlg_->thread())
            ask();
        else
            QMetaObject::invokeMethod(dlg_, ask, Qt::BlockingQueuedConnection);
        return yes;
    }
    void StatusLine(const std::string& text) override {
        Post([d = dlg_, t = Q(text)] { d->StatusLine(t); });
    }

  private:
    template <class F> void Post(F f) { QMetaObject::invokeMethod(dlg_, f, Qt::QueuedConnection); }
    PrinterClientDialog* dlg_;
};

PrinterClientDialog::PrinterClientDialog(QWidget* parent) : QDialog(parent) {
    InitUiResources();
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(":/icons/twprinter.svg"));
    BuildControls();
    SetTabOrder();
    ConnectSignals();

    tray_ = new QSystemTrayIcon(this);
    trayMenu_ = new QMenu(this);
    trayMenu_->addAction("Show setup window", this, &PrinterClientDialog::ShowFromTray);
    trayMenu_->addAction("Advanced settings...", this, &PrinterClientDialog::OpenAdvancedSettings);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::DoubleClick) ShowFromTray();
    });

    report_ = std::make_unique<QtReport>(this);
    SetUiReport(report_.get());
}

PrinterClientDialog::~PrinterClientDialog() {
    if (stopper_.joinable()) stopper_.join();
    if (ClientRunning()) ClientStop();
    SetUiReport(nullptr);
}

QWidget* PrinterClientDialog::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

void PrinterClientDialog::BuildControls() {
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
    reg(IDC_GROUP_CONNECTION, conn);
    // Three bands, each a grid whose columns follow the dialog-unit widths.
    auto* cv = new QVBoxLayout(conn);
    auto* statusRow = new QHBoxLayout;
    cv->addLayout(statusRow);
    status_ = label(IDC_STATUS_TEXT, "Tarnwick printer client is offline");
    status_->setWordWrap(true);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    status_->setMinimumHeight(fm.lineSpacing() * 3);
    auto* statusLabel = label(0, "Status:");
    statusLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    statusLabel->setMinimumWidth(du(37));
    statusRow->addWidget(statusLabel);
    statusRow->addWidget(status_, 1);

    auto* ga = new QGridLayout;
    cv->addLayout(ga);
    ga->addWidget(label(IDC_HOSTNAME_LABEL, "Host name:"), 0, 0);
    host_ = edit(IDC_HOSTNAME, 57);
    ga->addWidget(host_, 0, 1);
    ga->addWidget(label(IDC_PORTNUMBER_LABEL, "Port number:", right), 0, 2);
    portNumber_ = edit(IDC_PORTNUMBER, 57);
    ga->addWidget(portNumber_, 0, 3, 1, 2);
    ga->addWidget(label(IDC_LUTYPE_LABEL, "Lu type:"), 1, 0);
    luType_ = edit(IDC_LUTYPE, 36);
    luType_->setMaximumWidth(du(36));
    ga->addWidget(luType_, 1, 1, Qt::AlignLeft);
    ga->addWidget(label(0, "Connection Timeout:", right), 1, 2);
    timeout_ = edit(IDC_CONNECTTIMEOUT, 40);
    timeout_->setMaximumWidth(du(40));
    timeout_->setValidator(digits);
    ga->addWidget(timeout_, 1, 3);
    ga->addWidget(label(0, "seconds"), 1, 4);
    const int widthsA[] = {47, 57, 66, 40, 28};
    for (int c = 0; c < 5; ++c)
        ga->setColumnStretch(c, widthsA[c]);

    r3270_ = radio(IDC_3270, "&3270");
    r3270E_ = radio(IDC_3270E, "3270&E");
    sessionIdLabel_ = label(IDC_SESSIONID_LABEL, "Session ID:", right);
    sessionId_ = edit(IDC_SESSIONID, 57);
    addressLabel_ = label(IDC_ADDRESS_LABEL, "Address:", right);
    address_ = edit(IDC_ADDRESS, 57);
    connectLabel_ = label(IDC_CONNECTNAME_LABEL, "Connect name:", right);
    connectName_ = edit(IDC_CONNECTNAME, 57);
    associateLabel_ = label(IDC_ASSOCIATENAME_LABEL, "Associate name:", right);
    associateLabel_->setWordWrap(true);
    associateName_ = edit(IDC_ASSOCIATENAME, 57);
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
    portChoice_ = radio(IDC_PORTCHOICE, "Print to port (LPT/COM):");
    socketChoice_ = radio(IDC_SOCKETCHOICE, "Print to socket (port number):");
    fileChoice_ = radio(IDC_FILECHOICE, "Print to file (path name):");
    printerChoice_ = radio(IDC_PRINTERCHOICE, "Print to printer (job name):");
    portName_ = edit(IDC_PORTNAME, 57);
    socketPort_ = edit(IDC_SOCKETPORT, 57);
    fileName_ = edit(IDC_FILENAME, 57);
    jobName_ = edit(IDC_JOBNAME, 57);
    og->addWidget(portChoice_, 0, 0, 1, 2);
    og->addWidget(portName_, 0, 2);
    og->addWidget(socketChoice_, 1, 0, 1, 2);
    og->addWidget(socketPort_, 1, 2);
    og->addWidget(fileChoice_, 2, 0, 1, 2);
    og->addWidget(fileName_, 2, 2);
    og->addWidget(printerChoice_, 3, 0, 1, 2);
    og->addWidget(jobName_, 3, 2);
    headings_ = check(IDC_HEADINGS, "Print Headings");
    printAfter_ = check(IDC_PRINTAFTER, "Print Page after lines");
    lines_ = edit(IDC_LINES, 25);
    lines_->setMaximumWidth(du(40));
    lines_->setValidator(digits);
    og->addWidget(headings_, 4, 0);
    og->addWidget(printAfter_, 4, 1);
    og->addWidget(lines_, 4, 2, Qt::AlignRight);
    auto* medium = new QButtonGroup(this);
    for (auto* r : {portChoice_, socketChoice_, fileChoice_, printerChoice_})
        medium->addButton(r);

    // Startup and the about frame.
    auto* startup = new QGroupBox("Startup");
    reg(IDC_GROUP_STARTUP, startup);
    auto* sg = new QVBoxLayout(startup);
    autoChoice_ = radio(IDC_AUTO, "&Auto");
    manualChoice_ = radio(IDC_MANUAL, "&Manual");
    startVisible_ = check(IDC_STARTVISIBLE, "Start visible");
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
    auto* product = label(0, "KES Tarnwick Printer Client", Qt::AlignHCenter);
    product->setWordWrap(true);
    ag->addWidget(icon, 0, 0, Qt::AlignTop);
    ag->addWidget(product, 0, 1);
    ag->addWidget(label(IDC_VERSION, "Version: 1.5.1", Qt::AlignHCenter), 1, 0, 1, 2);

    auto* rightCol = new QVBoxLayout;
    rightCol->addWidget(startup);
    rightCol->addWidget(about);
    auto* middle = new QHBoxLayout;
    middle->addWidget(out, 193);
    middle->addLayout(rightCol, 79);

    validation_ = label(IDC_VALIDATION, "", Qt::AlignHCenter);

    auto* buttons = new QGridLayout;
    start_ = button(IDC_START, "&Start");
    start_->setDefault(true);
    stop_ = button(IDC_STOP, "S&top");
    hide_ = button(IDC_HIDE, "H&ide");
    printerSetup_ = button(IDC_PRINTERSETUP, "&Printer setup");
    save_ = button(IDC_SAVE, "&Save");
    undo_ = button(IDC_UNDO, "&Undo");
    exit_ = button(IDC_EXIT, "&Exit");
    help_ = button(IDC_HELP, "&Help");
    int col = 0;
    for (auto* b : {start_, stop_, hide_, printerSetup_})
        buttons->addWidget(b, 0, col++);
    col = 0;
    for (auto* b : {save_, undo_, exit_, help_})
        buttons->addWidget(b, 1, col++);
    buttons->setHorizontalSpacing(du(20));

    auto* top = new QVBoxLayout(this);
    top->addWidget(conn);
    top->addLayout(middle);
    top->addWidget(validation_);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);
}

void PrinterClientDialog::SetTabOrder() {
    const QWidget* order[] = {
        host_,         portNumber_, luType_,      timeout_,       r3270_,         r3270E_,
        sessionId_,    address_,    connectName_, associateName_, portChoice_,    portName_,
        socketChoice_, socketPort_, fileChoice_,  fileName_,      printerChoice_, jobName_,
        headings_,     printAfter_, lines_,       autoChoice_,    manualChoice_,  startVisible_,
        start_,        stop_,       hide_,        printerSetup_,  save_,          undo_,
        exit_,         help_};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(const_cast<QWidget*>(order[i - 1]), const_cast<QWidget*>(order[i]));
}

void PrinterClientDialog::ConnectSignals() {
    for (auto* e : {host_, portNumber_, luType_, timeout_, sessionId_, address_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_})
        connect(e, &QLineEdit::textChanged, this, [this] { UpdateStartButton(); });

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
    auto medium = [this](QRadioButton* r, void (PrinterClientDialog::*select)(int)) {
        connect(r, &QRadioButton::clicked, this, [this, r, select] {
            (this->*select)(r->isChecked() ? 1 : 0);
            EnableStartIfValid();
            choicesChanged_ = true;
        });
    };
    medium(portChoice_, &PrinterClientDialog::SelectPortOutput);
    medium(socketChoice_, &PrinterClientDialog::SelectSocketOutput);
    medium(fileChoice_, &PrinterClientDialog::SelectFileOutput);
    medium(printerChoice_, &PrinterClientDialog::SelectPrinterOutput);
    connect(headings_, &QCheckBox::clicked, this, [this] {
        gHeadings = headings_->isChecked() ? 1 : 0;
        choicesChanged_ = true;
    });
    for (auto* r : {autoChoice_, manualChoice_})
        connect(r, &QRadioButton::clicked, this, [this] { choicesChanged_ = true; });

    connect(start_, &QPushButton::clicked, this, &PrinterClientDialog::StartClient);
    connect(stop_, &QPushButton::clicked, this, &PrinterClientDialog::StopClient);
    connect(hide_, &QPushButton::clicked, this, &PrinterClientDialog::HideCommand);
    connect(printerSetup_, &QPushButton::clicked, this, &PrinterClientDialog::PrinterSetup);
    connect(save_, &QPushButton::clicked, this, &PrinterClientDialog::SaveCommand);
    connect(undo_, &QPushButton::clicked, this, &PrinterClientDialog::UndoCommand);
    connect(exit_, &QPushButton::clicked, this, &PrinterClientDialog::RequestExit);
    connect(help_, &QPushButton::clicked, this, &PrinterClientDialog::ShowHelp);
}

void PrinterClientDialog::OnInitDialog() {
    const std::string& cmd = platform::CommandLine();
    if (gDebug || cmd.find("-d") != std::string::npos) {
        DebugOpen();
        gDebug = 1;
    }
    EnsureDefaultIni();
    if (IniGet("AUTOSTART", "0") == "1")
        autoStart_ = true;
    else
        Configure();
    SetControlTexts();
    QString path;
    if (FindSessionFileArgument(path)) {
        ReadSessionFile(path);
        gFieldsReady = 1;
        UpdateStartButton();
        ApplyFieldsToConfiguration();
    } else {
        LoadFieldsFromIni();
        gFieldsReady = 1;
        gSessionFileInForce = 0;
        UpdateStartButton();
    }
}

void PrinterClientDialog::SetControlTexts() {
    setWindowTitle(UiText(MSG_TITLE));
    start_->setText(UiText(MSG_TEXT_START));
    stop_->setText(UiText(MSG_TEXT_STOP));
    hide_->setText(UiText(MSG_TEXT_HIDE));
    printerSetup_->setText(UiText(MSG_TEXT_PRINTER_SETUP));
    save_->setText(UiText(MSG_TEXT_SAVE));
    undo_->setText(UiText(MSG_TEXT_UNDO));
    exit_->setText(UiText(MSG_TEXT_EXIT));
    help_->setText(UiText(MSG_TEXT_HELP));
    ControlAs<QLabel>(IDC_HOSTNAME_LABEL)->setText(UiText(MSG_TEXT_HOST_NAME));
    ControlAs<QLabel>(IDC_PORTNUMBER_LABEL)->setText(UiText(MSG_TEXT_PORT_NUMBER));
    sessionIdLabel_->setText(UiText(MSG_TEXT_SESSION_ID));
    addressLabel_->setText(UiText(MSG_TEXT_ADDRESS));
    ControlAs<QLabel>(IDC_LUTYPE_LABEL)->setText(UiText(MSG_TEXT_LU_TYPE));
    connectLabel_->setText(UiText(MSG_TEXT_CONNECT_NAME));
    associateLabel_->setText(UiText(MSG_TEXT_ASSOCIATE_NAME));
    ControlAs<QGroupBox>(IDC_GROUP_STARTUP)->setTitle(UiText(MSG_TEXT_STARTUP));
    ControlAs<QLabel>(IDC_VERSION)->setText(QString("Version: %1").arg(kVersion));
    autoChoice_->setText(UiText(MSG_TEXT_AUTO));
    manualChoice_->setText(UiText(MSG_TEXT_MANUAL));
    startVisible_->setText(UiText(MSG_TEXT_START_VISIBLE));
}

void PrinterClientDialog::Set3270Enabling(bool e3270) {
    connectLabel_->setEnabled(!e3270);
    connectName_->setEnabled(!e3270);
    associateLabel_->setEnabled(!e3270);
    associateName_->setEnabled(!e3270);
    sessionIdLabel_->setEnabled(e3270);
    sessionId_->setEnabled(e3270);
    addressLabel_->setEnabled(e3270);
    address_->setEnabled(e3270);
}

void PrinterClientDialog::LoadFieldsFromIni() {
    host_->setText(Get("HOSTNAME", ""));
    portNumber_->setText(Get("SERVERNAME", "kesservd"));
    timeout_->setText(Get("CONNECTTIMEOUT", "15"));
    sessionId_->setText(Get("SESSIONID", "-1"));
    address_->setText(Get("LUADDRESS", "-1"));
    luType_->setText(Get("LUTYPE", "3"));
    connectName_->setText(Get("CONNECTNAME", ""));
    associateName_->setText(Get("ASSOCIATENAME", ""));
    portName_->setText(Get("LPTCOMPORT", ""));
    gPortName = Std(portName_->text());
    socketPort_->setText(Get("SOCKETPORT", ""));
    fileName_->setText(Get("FILENAME", "VARODO"));
    jobName_->setText(Get("JOBNAME", "VARODO"));
    lines_->setText(Get("PRINTAFTERNLINES", "0"));
    gPrintAfterNLines = ReadNumber(lines_->text());
    printPageAfterLines_ = Get("PRINTAFTERNLINESCHK", "0") == "1";
    printAfter_->setChecked(printPageAfterLines_);
    autoStart_ = Get("AUTOSTART", "0") == "1";
    (autoStart_ ? autoChoice_ : manualChoice_)->setChecked(true);
    startVisible_->setChecked(Get("STARTVISIBLE", "1") == "1");
    gHeadings = Get("HEADINGS", "") == "1" ? 1 : 0;
    headings_->setChecked(gHeadings == 1);

    mode3270E_ = Get("3270E", "0") == "1";
    (mode3270E_ ? r3270E_ : r3270_)->setChecked(true);
    Set3270Enabling(!mode3270E_);

    SelectFileOutput(Get("PRINTTOFILE", "0") == "1");
    SelectSocketOutput(Get("USESOCKET", "") == "1");
    SelectPortOutput(Get("PRINT2PORT", "") == "1");
    SelectPrinterOutput(!gPrintToFile && !useSocket_ && !gPrintToPort);
    choicesChanged_ = false;
}

void PrinterClientDialog::SaveFieldsToIni() {
    Put("HOSTNAME", host_->text());
    Put("SERVERNAME", portNumber_->text());
    Put("CONNECTTIMEOUT", timeout_->text());
    Put("SESSIONID", sessionId_->text());
    Put("LUADDRESS", address_->text());
    Put("LPTCOMPORT", portName_->text());
    gPortName = Std(portName_->text());
    Put("SOCKETPORT", socketPort_->text());
    Put("FILENAME", fileName_->text());
    Put("JOBNAME", jobName_->text());
    Put("LUTYPE", luType_->text());
    printPageAfterLines_ = printAfter_->isChecked();
    Put("PRINTAFTERNLINESCHK", Flag(printPageAfterLines_));
    Put("PRINTAFTERNLINES", lines_->text());
    autoStart_ = !manualChoice_->isChecked();
    Put("AUTOSTART", Flag(autoStart_));
    mode3270E_ = r3270E_->isChecked();
    Put("3270E", Flag(mode3270E_));
    Put("STARTVISIBLE", Flag(startVisible_->isChecked()));
    Put("PRINT2PORT", Flag(portChoice_->isChecked()));
    Put("USESOCKET", Flag(socketChoice_->isChecked()));
    Put("PRINTTOFILE", Flag(fileChoice_->isChecked()));
    Put("HEADINGS", Flag(headings_->isChecked()));
    Put("CONNECTNAME", connectName_->text());
    Put("ASSOCIATENAME", associateName_->text());
    choicesChanged_ = false;
    ClearModifiedFlags();
}

int PrinterClientDialog::ValidateFields() {
    auto fail = [this](int msg) {
        gValidationMessage = msg;
        validation_->setText(UiText(msg));
        return 0;
    };
    if (!r3270E_->isChecked()) {
        const QString sid = sessionId_->text();
        const long n = ReadNumber(sid);
        const bool letter = sid.size() == 1 &&
                            ((sid[0] >= 'a' && sid[0] <= 'e') || (sid[0] >= 'A' && sid[0] <= 'E'));
        if (!letter && (n < -1 || n > 4)) return fail(MSG_BAD_SESSION_ID);
        const long a = ReadNumber(address_->text());
        if (a < -1 || a > 255) return fail(MSG_BAD_ADDRESS);
    } else {
        const bool haveConnect = !connectName_->text().isEmpty();
        const bool haveAssociate = !associateName_->text().isEmpty();
        if (haveConnect && haveAssociate) return fail(MSG_BOTH_NAMES);
        if (haveConnect) {
            associateName_->setEnabled(false);
            associateLabel_->setEnabled(false);
            connectName_->setEnabled(true);
            connectLabel_->setEnabled(true);
        } else if (haveAssociate) {
            connectName_->setEnabled(false);
            connectLabel_->setEnabled(false);
            associateName_->setEnabled(true);
            associateLabel_->setEnabled(true);
        } else {
            for (QWidget* w : std::initializer_list<QWidget*>{connectName_, connectLabel_,
                                                              associateName_, associateLabel_})
                w->setEnabled(true);
            return fail(MSG_NEED_NAME);
        }
    }
    if (portChoice_->isChecked()) {
        gPortName = Std(portName_->text());
        if (portName_->text().isEmpty()) return fail(MSG_NEED_LPT_COM);
    } else if (socketChoice_->isChecked()) {
        if (socketPort_->text().isEmpty()) return fail(MSG_NEED_SOCKET_PORT);
    } else if (fileChoice_->isChecked()) {
        if (fileName_->text().isEmpty()) return fail(MSG_NEED_FILE_NAME);
    } else if (jobName_->text().isEmpty()) {
        return fail(MSG_NEED_JOB_NAME);
    }
    if (portNumber_->text().isEmpty()) return fail(MSG_NEED_PORT_NUMBER);
    if (timeout_->text().isEmpty()) return fail(MSG_NEED_TIMEOUT);
    const long lu = ReadNumber(luType_->text());
    if (lu != 1 && lu != 3) return fail(MSG_BAD_LU_TYPE);
    validation_->setText("");
    return 1;
}

void PrinterClientDialog::EnableStartIfValid() {
    const bool valid = ValidateFields() == 1;
    start_->setEnabled(valid && !running_);
}

void PrinterClientDialog::UpdateStartButton() {
    if (gFieldsReady != 1) return;
    EnableStartIfValid();
}

int PrinterClientDialog::AnyFieldModified() const {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, luType_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_, lines_})
        if (e->isModified()) return 1;
    return choicesChanged_ ? 1 : 0;
}

void PrinterClientDialog::ClearModifiedFlags() {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, luType_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_, lines_})
        e->setModified(false);
}

void PrinterClientDialog::UndoFieldChanges() {
    for (auto* e : {host_, portNumber_, timeout_, sessionId_, address_, luType_, connectName_,
                    associateName_, portName_, socketPort_, fileName_, jobName_, lines_})
        if (e->isUndoAvailable() && e->isModified()) e->undo();
    (mode3270E_ ? r3270E_ : r3270_)->setChecked(true);
    Set3270Enabling(!mode3270E_);
    (autoStart_ ? autoChoice_ : manualChoice_)->setChecked(true);
    printAfter_->setChecked(printPageAfterLines_);
    if (gPrintToPort == 1)
        SelectPortOutput(1);
    else if (useSocket_)
        SelectSocketOutput(1);
    else if (gPrintToFile == 1)
        SelectFileOutput(1);
    else
        SelectPrinterOutput(1);
    headings_->setChecked(gHeadings == 1);
    EnableStartIfValid();
    choicesChanged_ = false;
    ClearModifiedFlags();
}

void PrinterClientDialog::ApplyFieldsToConfiguration() {
    if (host_->text().isEmpty())
        gHostName = platform::ComputerName().substr(0, 15);
    else
        gHostName = Std(host_->text());
    auto optional = [](std::optional<std::string>& opt, const QString& text) {
        if (text.isEmpty())
            opt.reset();
        else
            opt = Std(text);
    };
    if (r3270E_->isChecked()) {
        optional(gOptions.connectName, connectName_->text());
        optional(gOptions.associateName, associateName_->text());
        gUse3270E = 1;
    } else {
        gOptions.luAddress = Std(address_->text());
        gOptions.luNumber = Std(sessionId_->text());
        gUse3270E = 0;
    }
    gOptions.serverName = Std(portNumber_->text());
    gConnectTimeout = ReadNumber(timeout_->text()) * 1000;
    printPageAfterLines_ = printAfter_->isChecked();
    gPrintAfterNLines = ReadNumber(lines_->text());
    gOptions.luType = static_cast<int>(ReadNumber(luType_->text()));
    gOptions.fileName = Std(fileName_->text());
    gPortName = Std(portName_->text());
}

void PrinterClientDialog::SelectPortOutput(int on) {
    if (on) {
        gPrintToPort = 1;
        useSocket_ = false;
        gUseSocket = 0;
        gPrintToFile = 0;
        portChoice_->setChecked(true);
        portName_->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{socketPort_, fileName_, jobName_,
                                                          headings_, lines_, printAfter_})
            w->setEnabled(false);
    } else {
        gPrintToPort = 0;
        portName_->setEnabled(false);
    }
}

void PrinterClientDialog::SelectSocketOutput(int on) {
    if (on) {
        gPrintToPort = 0;
        useSocket_ = true;
        gUseSocket = 1;
        gPrintToFile = 0;
        socketChoice_->setChecked(true);
        socketPort_->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{portName_, fileName_, jobName_, headings_,
                                                          lines_, printAfter_})
            w->setEnabled(false);
    } else {
        useSocket_ = false;
        gUseSocket = 0;
        socketPort_->setEnabled(false);
    }
}

void PrinterClientDialog::SelectFileOutput(int on) {
    if (on) {
        gPrintToPort = 0;
        useSocket_ = false;
        gUseSocket = 0;
        gPrintToFile = 1;
        fileChoice_->setChecked(true);
        fileName_->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{portName_, socketPort_, jobName_,
                                                          headings_, lines_, printAfter_})
            w->setEnabled(false);
    } else {
        gPrintToFile = 0;
        for (QWidget* w : std::initializer_list<QWidget*>{headings_, lines_, printAfter_})
            w->setEnabled(true);
    }
}

void PrinterClientDialog::SelectPrinterOutput(int on) {
    if (on) {
        gPrintToPort = 0;
        useSocket_ = false;
        gUseSocket = 0;
        gPrintToFile = 0;
        printerChoice_->setChecked(true);
        for (QWidget* w : std::initializer_list<QWidget*>{jobName_, headings_, lines_, printAfter_})
            w->setEnabled(true);
        for (QWidget* w : std::initializer_list<QWidget*>{portName_, socketPort_, fileName_})
            w->setEnabled(false);
    } else {
        jobName_->setEnabled(false);
    }
}

bool PrinterClientDialog::Ask(const QString& text) {
    return Hooks().messageBox(this, text, true);
}
void PrinterClientDialog::Tell(const QString& text) {
    Hooks().messageBox(this, text, false);
}

void PrinterClientDialog::SetStatus(const QString& text) {
    status_->setText(text);
    emit statusShown(text);
}

void PrinterClientDialog::StartClient() {
    if (ValidateFields() != 1) {
        Tell(UiText(gValidationMessage));
        return;
    }
    QString path;
    if (FindSessionFileArgument(path)) {
        ReadSessionFile(path);
        gSessionFileInForce = 1;
        ApplyFieldsToConfiguration();
    }
    if (AnyFieldModified()) {
        gSessionFileInForce = 1;
        ApplyFieldsToConfiguration();
    }
    if (stopper_.joinable()) stopper_.join();
    if (!ClientStart()) return;
    start_->setEnabled(false);
    stop_->setEnabled(true);
    SetStatus(UiText(MSG_CONNECTING));
    running_ = true;
}

void PrinterClientDialog::StopClient() {
    if (stopping_) return;
    stopping_ = true;
    stop_->setEnabled(false);
    if (stopper_.joinable()) stopper_.join();
    // The join runs beside the window thread, which goes on serving the
    // client thread's reports (a blocking question among them) until it ends.
    stopper_ = std::thread([this] {
        ClientStop();
        QMetaObject::invokeMethod(this, &PrinterClientDialog::FinishStop, Qt::QueuedConnection);
    });
}

void PrinterClientDialog::FinishStop() {
    if (stopper_.joinable()) stopper_.join();
    start_->setEnabled(true);
    stopping_ = false;
    running_ = false;
    SetStatus(UiText(MSG_OFFLINE));
    UpdateTrayIcon(false, TrayAction::Modify);
    emit onlineChanged(false);
}

void PrinterClientDialog::RequestExit() {
    if (!Ask(UiText(MSG_CONFIRM_EXIT))) return;
    if (stopping_) {
        Tell(UiText(MSG_SHUTTING_DOWN));
        return;
    }
    if (running_) {
        Tell(UiText(MSG_STOP_FIRST));
        return;
    }
    if (AnyFieldModified() && Ask(UiText(MSG_SAVE_CHANGES))) SaveFieldsToIni();
    UpdateTrayIcon(false, TrayAction::Delete);
    ReleaseOptions();
    if (gDebugLog) DebugClose();
    hide();
    emit exited();
}

void PrinterClientDialog::reject() {
    RequestExit();
}

void PrinterClientDialog::closeEvent(QCloseEvent* event) {
    event->ignore();
    RequestExit();
}

void PrinterClientDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction("Advanced settings...", this, &PrinterClientDialog::OpenAdvancedSettings);
    menu.exec(event->globalPos());
}

void PrinterClientDialog::OpenAdvancedSettings() {
    AdvancedSettingsDialog dlg(this);
    if (dlg.exec() == QDialog::Accepted) {
        dlg.Save();
        // The socket host lives in the socket port key the main window shows.
        socketPort_->setText(Get("SOCKETPORT", ""));
    }
}

void PrinterClientDialog::SaveCommand() {
    SaveFieldsToIni();
    ClearModifiedFlags();
    gSessionFileInForce = 0;
    const QString path = Hooks().saveSessionFile(this);
    if (!path.isEmpty()) WriteSessionFile(path);
}

void PrinterClientDialog::UndoCommand() {
    if (AnyFieldModified()) {
        UndoFieldChanges();
        gSessionFileInForce = 0;
    }
}

void PrinterClientDialog::PrinterSetup() {
    const QString name = Hooks().choosePrinter(this);
    if (!name.isEmpty()) Put("Printer", name);
}

void PrinterClientDialog::HideCommand() {
    // Without a notification area the taskbar entry is the way back.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void PrinterClientDialog::ShowFromTray() {
    showNormal();
    raise();
    activateWindow();
}

void PrinterClientDialog::ShowHelp() {
    Hooks().openHelp(helpPath_);
}

void PrinterClientDialog::ShowOnlineState(bool online) {
    stop_->setEnabled(online);
    start_->setEnabled(!online);
    SetStatus(UiText(online ? MSG_ONLINE : MSG_OFFLINE));
    UpdateTrayIcon(online, TrayAction::Modify);
    running_ = online;
    emit onlineChanged(online);
}

void PrinterClientDialog::ShowStatusMessage(int code, const QString& reported) {
    QString text = reported.isEmpty() ? UiText(code) : reported;
    const QString delaying = UiText(MSG_DELAYING);
    if (code != MSG_CONNECTING && !text.endsWith(delaying)) text += "\n" + delaying;
    SetStatus(text);
}

void PrinterClientDialog::StatusLine(const QString& text) {
    SetStatus(running_ ? UiText(MSG_ONLINE) + "\n" + text : text);
    if (gDebug == 1) DebugPrint(Std(text) + "\n");
}

void PrinterClientDialog::ShowFinalMessage(const QString& text) {
    Tell(text);
}

void PrinterClientDialog::UpdateTrayIcon(bool online, TrayAction action) {
    if (action == TrayAction::Delete) {
        tray_->hide();
        trayShown_ = false;
        return;
    }
    static const QIcon onlineIcon(":/icons/online.svg");
    static const QIcon offlineIcon(":/icons/offline.svg");
    tray_->setIcon(online ? onlineIcon : offlineIcon);
    tray_->setToolTip(UiText(online ? MSG_ONLINE : MSG_OFFLINE).left(63));
    trayOnline_ = online;
    if (action == TrayAction::Add) {
        tray_->show();
        trayShown_ = true;
    }
}

} // namespace ui
