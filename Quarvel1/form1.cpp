#include "Quarvel1/form1.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <cstdlib>
#include <utility>

#include "Quarvel1/error_report.h"
#include "Quarvel1/interval.h"
#include "Quarvel1/repeat_timer.h"
#include "Quarvel1/title.h"
#include "Quarvel1/up_down.h"
#include "ZComm/zcomm.h"
#include "config_serial/apply_settings.h"
#include "config_serial/form4.h"
#include "config_serial/port_scan.h"
#include "config_serial/serial_settings.h"

std::string telegramBuffer;
quarvel::ReferenceFrame selectedFrame = quarvel::ReferenceFrame::Bow;
bool activityToggle = true;
std::string programTitle;
TForm1* Form1 = nullptr;
quarvel::Clock telegram_clock = quarvel::local_wall_clock;
int server_port = 4099;

namespace {

// The serial component as the window's design holds it: the constructor's values except these.
TZComm* make_zcomm1(QObject* owner) {
    auto* comm = new TZComm(owner);
    comm->MaxReadLength = 1024;
    comm->InputQueueSize = 1024;
    comm->OutputQueueSize = 1024;
    comm->EnableParity = false;
    comm->XOuputFlowCtl = false;
    comm->XInputFlowCtl = false;
    comm->ErrorReplace = true;
    comm->AbortOnError = false;
    comm->ErrorChar = 126;
    comm->TimeoutReadInterval = 65535;
    comm->TimeoutReadMultiplier = 1;
    comm->TimeoutReadConstant = 5000;
    comm->TimeoutWriteMultiplier = 1;
    comm->SetVersion("1.0.8");
    return comm;
}

constexpr QRect kClientArea{206, 151, 183, 130};
constexpr int kSpinnerEnd = 20000;
constexpr int kPortNames = 256;

// "MS Sans Serif" is rarely installed here; the list falls back to a plain sans face.
QFont panel_font(int pixel_size, bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("sans-serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixel_size);
    font.setBold(bold);
    return font;
}

// Wires a handler so that an exception leaving it is reported here and never unwinds through
// the toolkit's signal delivery.
template <typename Handler>
auto guarded(Handler handler) {
    return [handler] { quarvel::run_guarded(handler); };
}

template <typename Control>
Control* place(Control* control, int left, int top, int width, int height) {
    control->setGeometry(left, top, width, height);
    return control;
}

QLabel* axis_label(QWidget* parent, const char* caption, int top, int width) {
    auto* label = place(new QLabel(QString::fromLatin1(caption), parent), 8, top, width, 16);
    label->setFont(panel_font(13, true));
    return label;
}

QLineEdit* axis_edit(QWidget* parent, int top) {
    return place(new QLineEdit(QStringLiteral("0"), parent), 48, top, 105, 21);
}

TUpDown* spinner(QWidget* parent, QLineEdit* edit, int top, bool wrap) {
    auto* up_down = place(new TUpDown(parent), 153, top, 23, 21);
    up_down->setRange(-kSpinnerEnd, kSpinnerEnd);
    up_down->setPosition(0);
    up_down->setWrap(wrap);
    up_down->setAssociate(edit);
    return up_down;
}

QPushButton* button(QWidget* parent, const char* caption, int left) {
    return place(new QPushButton(QString::fromLatin1(caption), parent), left, 80, 42, 25);
}

QListWidget* hidden_list(QWidget* parent, int left) {
    auto* list = place(new QListWidget(parent), left, 135, 25, 25);
    list->setFocusPolicy(Qt::NoFocus);
    list->hide();
    return list;
}

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint) {
    Form1 = this;
    try {
        build_controls();
        ZComm1 = make_zcomm1(this);
        Timer1->setInterval(quarvel::interval_from_environment(std::getenv("INTERVAL")));
        ServerSocket->setPort(server_port);
        ServerSocket->setActive(true);
        Timer1->clearOnTimer();
        config_serial::committedSettings = config_serial::kDefaultSettings;
        scan_ports();
    } catch (...) {
        // The destructor does not run for a failed construction: Form1 must not dangle.
        Form1 = nullptr;
        throw;
    }
    show();
}

TForm1::~TForm1() {
    if (Form1 == this) {
        Form1 = nullptr;
    }
}

void TForm1::build_controls() {
    setWindowTitle(QStringLiteral("Quarvel"));
    setFont(panel_font(11, false));
    setGeometry(kClientArea);
    setFixedSize(kClientArea.size());

    Label3 = axis_label(this, "X", 8, 10);
    Label4 = axis_label(this, "Y", 32, 11);
    Label1 = axis_label(this, "Z", 56, 10);
    Edit3 = axis_edit(this, 4);
    Edit4 = axis_edit(this, 28);
    Edit1 = axis_edit(this, 52);
    UpDown1 = spinner(this, Edit3, 4, false);
    UpDown2 = spinner(this, Edit4, 28, true);
    UpDown3 = spinner(this, Edit1, 52, false);

    Button3 = button(this, "Config.", 8);
    Button3->setFont(panel_font(8, false));
    Button4 = button(this, "Single", 50);
    Button1 = button(this, "Start", 92);
    Button2 = button(this, "Stop", 134);
    connect(Button3, &QPushButton::clicked, this, guarded([this] { Button3Click(Button3); }));
    connect(Button4, &QPushButton::clicked, this, guarded([this] { Button4Click(Button4); }));
    connect(Button1, &QPushButton::clicked, this, guarded([this] { Button1Click(Button1); }));
    connect(Button2, &QPushButton::clicked, this, guarded([this] { Button2Click(Button2); }));

    RadioButton1 = place(new QRadioButton(QStringLiteral("Proa"), this), 8, 108, 49, 17);
    RadioButton2 = place(new QRadioButton(QStringLiteral("Norte"), this), 72, 108, 49, 17);
    RadioButton3 = place(new QRadioButton(QStringLiteral("Este"), this), 135, 108, 41, 17);
    RadioButton1->setChecked(true);
    // Toggled, not clicked: the arrow keys move the selection within the group too.
    connect(RadioButton1, &QRadioButton::toggled, this,
            guarded([this] { RadioButton1Click(RadioButton1); }));
    connect(RadioButton2, &QRadioButton::toggled, this,
            guarded([this] { RadioButton2Click(RadioButton2); }));
    connect(RadioButton3, &QRadioButton::toggled, this,
            guarded([this] { RadioButton3Click(RadioButton3); }));

    ListBox_Ports = hidden_list(this, 9);
    for (int n = 1; n <= kPortNames; ++n) {
        ListBox_Ports->addItem(QStringLiteral("COM%1").arg(n));
    }
    ListBox_Avail = hidden_list(this, 41);

    Timer1 = new quarvel::RepeatTimer(this);

    // Not listening yet: the constructor starts it once INTERVAL has been read.
    ServerSocket = new net::TServerSocket(this);
    ServerSocket->setPort(4099);
    ServerSocket->OnClientError = [this](QObject* Sender, net::TCustomWinSocket* Socket,
                                         net::TErrorEvent ErrorEvent, int& ErrorCode) {
        ServerSocketClientError(Sender, Socket, ErrorEvent, ErrorCode);
    };
    name_controls();
    place_tab_order();
}

void TForm1::scan_ports() {
    std::vector<std::string> candidates;
    for (int i = 0; i < ListBox_Ports->count(); ++i) {
        candidates.push_back(ListBox_Ports->item(i)->text().toStdString());
    }
    ListBox_Avail->clear();
    for (const auto& name : config_serial::scan_system_ports(candidates)) {
        ListBox_Avail->addItem(QString::fromStdString(name));
    }
}

// The names that the code uses, for test output and for tools that look into the window.
void TForm1::name_controls() {
    const std::pair<QObject*, const char*> names[] = {{Edit1, "Edit1"},
                                                      {Edit3, "Edit3"},
                                                      {Edit4, "Edit4"},
                                                      {Label1, "Label1"},
                                                      {Label3, "Label3"},
                                                      {Label4, "Label4"},
                                                      {Button1, "Button1"},
                                                      {Button2, "Button2"},
                                                      {Button3, "Button3"},
                                                      {Button4, "Button4"},
                                                      {UpDown1, "UpDown1"},
                                                      {UpDown2, "UpDown2"},
                                                      {UpDown3, "UpDown3"},
                                                      {Timer1, "Timer1"},
                                                      {RadioButton1, "RadioButton1"},
                                                      {RadioButton2, "RadioButton2"},
                                                      {RadioButton3, "RadioButton3"},
                                                      {ServerSocket, "ServerSocket"},
                                                      {ListBox_Ports, "ListBox_Ports"},
                                                      {ListBox_Avail, "ListBox_Avail"}};
    for (const auto& [control, name] : names) {
        control->setObjectName(QString::fromLatin1(name));
    }
    setObjectName(QStringLiteral("Form1"));
}

void TForm1::place_tab_order() {
    QWidget* const order[] = {Button3, Button4, Button1,      Button2,      Edit3,
                              Edit4,   Edit1,   RadioButton1, RadioButton2, RadioButton3};
    for (std::size_t n = 1; n < std::size(order); ++n) {
        setTabOrder(order[n - 1], order[n]);
    }
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && !activated_) {
        quarvel::run_guarded([this] { FormActivate(this); });
    }
    return QWidget::event(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    quarvel::run_guarded([this] { FormClose(this); });
    QWidget::closeEvent(event);
}

void TForm1::resizeEvent(QResizeEvent* event) {
    int width = event->size().width();
    int height = event->size().height();
    bool accept = true;
    FormCanResize(this, width, height, accept);
    if (!accept && event->size() != kClientArea.size()) {
        QWidget::resize(kClientArea.size());
    }
    QWidget::resizeEvent(event);
}

void TForm1::FormClose(QObject* /*Sender*/) {
    if (ZComm1->Connected() != 0) {
        ZComm1->CloseConnection();
    }
    if (ServerSocket->Active()) {
        ServerSocket->setActive(false);
    }
}

void TForm1::Timer1Timer(QObject* /*Sender*/) {
    single_shot();
}

void TForm1::Button1Click(QObject* /*Sender*/) {
    Timer1->setOnTimer(guarded([this] { Timer1Timer(Timer1); }));
    Button4->setEnabled(false);
}

void TForm1::Button2Click(QObject* /*Sender*/) {
    Button4->setEnabled(true);
    Timer1->clearOnTimer();
    setWindowTitle(QString::fromStdString(programTitle));
}

void TForm1::Button3Click(QObject* /*Sender*/) {
    Form4->exec();
    config_serial::apply_settings_outcome(*ZComm1, *ListBox_Avail);
}

void TForm1::single_shot() {
    setWindowTitle(QString::fromStdString(programTitle) +
                   (activityToggle ? QStringLiteral(" /") : QStringLiteral(" \\")));
    activityToggle = !activityToggle;
    compose_telegram();
    if (ZComm1->Connected() != 0) {
        ZComm1->WriteComm(telegramBuffer.data(), static_cast<std::int32_t>(telegramBuffer.size()));
    }
    if (ServerSocket->Active()) {
        ServerSocketWrite(telegramBuffer.c_str());
    }
}

void TForm1::Button4Click(QObject* /*Sender*/) {
    single_shot();
}

void TForm1::FormCanResize(QObject* /*Sender*/, int& /*NewWidth*/, int& /*NewHeight*/,
                           bool& Resize) {
    Resize = false;
}

void TForm1::RadioButton1Click(QObject* /*Sender*/) {
    if (RadioButton1->isChecked()) {
        selectedFrame = quarvel::ReferenceFrame::Bow;
    }
}

void TForm1::RadioButton2Click(QObject* /*Sender*/) {
    if (RadioButton2->isChecked()) {
        selectedFrame = quarvel::ReferenceFrame::North;
    }
}

void TForm1::RadioButton3Click(QObject* /*Sender*/) {
    if (RadioButton3->isChecked()) {
        selectedFrame = quarvel::ReferenceFrame::East;
    }
}

void TForm1::ServerSocketClientError(QObject* /*Sender*/, net::TCustomWinSocket* Socket,
                                     net::TErrorEvent ErrorEvent, int& ErrorCode) {
    if (ErrorEvent == net::eeConnect) {
        Socket->close();
    }
    ErrorCode = 0;
}

void TForm1::ServerSocketWrite(const char* text) {
    net::write_to_every_client(*ServerSocket, text);
}

void TForm1::FormActivate(QObject* /*Sender*/) {
    programTitle = quarvel::strip_extension(QCoreApplication::applicationFilePath().toStdString());
    const QString title = QString::fromStdString(programTitle);
    QCoreApplication::setApplicationName(title);
    setWindowTitle(title);
    activated_ = true;
}

void compose_telegram() {
    telegramBuffer = quarvel::compose_telegram_from_inputs(
        telegram_clock, Form1->Edit3->text().toStdString(), Form1->Edit4->text().toStdString(),
        Form1->Edit1->text().toStdString(), selectedFrame);
}
