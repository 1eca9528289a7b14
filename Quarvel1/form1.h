// The simulator panel: the main window, its controls and handlers, and the module-level state
// that the telegram and the transmission share. The window only wires controls to the logic in
// quarvel_core; the channels (serial port, TCP server) and the serial settings plug in at the
// places marked "hook:".
#pragma once

#include <QWidget>
#include <string>

#include "Quarvel1/telegram.h"
#include "net/server_socket.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class TUpDown;

namespace quarvel {
class RepeatTimer;
}
class TZComm;

class TForm1 : public QWidget {
    Q_OBJECT

  public:
    // Builds the window and its controls, reads INTERVAL, then runs the start-up steps of the
    // other subsystems. Makes itself `Form1`. An exception from a step ends the construction
    // before the window is shown.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    QLineEdit* Edit1;
    QLineEdit* Edit3;
    QLineEdit* Edit4;
    QLabel* Label1;
    QLabel* Label3;
    QLabel* Label4;
    QPushButton* Button1;
    QPushButton* Button2;
    QPushButton* Button3;
    QPushButton* Button4;
    TUpDown* UpDown1;
    TUpDown* UpDown2;
    TUpDown* UpDown3;
    quarvel::RepeatTimer* Timer1;
    TZComm* ZComm1;
    QRadioButton* RadioButton1;
    QRadioButton* RadioButton2;
    QRadioButton* RadioButton3;
    net::TServerSocket* ServerSocket;
    QListWidget* ListBox_Ports;
    QListWidget* ListBox_Avail;

    // Closes the channels that are open: the serial port first, then the server.
    void FormClose(QObject* Sender);
    // Tick of Timer1: one telegram.
    void Timer1Timer(QObject* Sender);
    // "Start": sets the tick handler (a full countdown), then disables "Single".
    void Button1Click(QObject* Sender);
    // "Stop": enables "Single", clears the tick handler, shows the title without a mark.
    void Button2Click(QObject* Sender);
    // "Config.": the serial settings dialog.
    void Button3Click(QObject* Sender);
    // Turns the activity mark, composes one telegram and hands it to the open channels.
    void single_shot();
    // "Single": one telegram.
    void Button4Click(QObject* Sender);
    // Answers every resize request with no.
    void FormCanResize(QObject* Sender, int& NewWidth, int& NewHeight, bool& Resize);
    // "Proa", "Norte", "Este": select the frame when their own button is checked.
    void RadioButton1Click(QObject* Sender);
    void RadioButton2Click(QObject* Sender);
    void RadioButton3Click(QObject* Sender);
    // Absorbs an error of a client connection: closes it on a connect error, and clears the code
    // so that nothing is raised.
    void ServerSocketClientError(QObject* Sender, net::TCustomWinSocket* Socket,
                                 net::TErrorEvent ErrorEvent, int& ErrorCode);
    // Sends the NUL-terminated telegram to every connected client.
    void ServerSocketWrite(const char* text);
    // First activation: programTitle, application title and caption from the executable's name.
    void FormActivate(QObject* Sender);

  protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void build_controls();
    void name_controls();
    void place_tab_order();
    // Fills ListBox_Avail with the ports of this machine found among ListBox_Ports.
    void scan_ports();
    bool activated_ = false;
};

// Composes one telegram from the clock (telegram_clock), the edits of Form1 and selectedFrame
// into telegramBuffer. Needs Form1; UI thread only.
void compose_telegram();

// Module-level state of the panel, touched on the UI thread only.
extern std::string telegramBuffer;             // the last telegram, CR LF included
extern quarvel::ReferenceFrame selectedFrame;  // Bow at start
extern bool activityToggle;                    // true at start: the next mark is " /"
extern std::string programTitle;               // empty until the first activation
extern TForm1* Form1;                          // the main window while it exists
extern quarvel::Clock telegram_clock;          // local_wall_clock; tests fix it
extern int server_port;                        // 4099; tests of the window pick their own
