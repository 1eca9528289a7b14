// TForm4, the serial configuration dialog: it edits pendingSettings and, on OK,
// commits the changed fields to committedSettings and reports them in SettingsChange.
#pragma once

#include <QDialog>
#include <QStringList>
#include <functional>

class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;

class TForm4 : public QDialog {
    Q_OBJECT

  public:
    // `avail_items` gives the main window's ListBox_Avail items; it is called at
    // every showing.
    explicit TForm4(std::function<QStringList()> avail_items, QWidget* parent = nullptr);
    ~TForm4() override;

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QComboBox* ComboBox1;
    QComboBox* ComboBox2;
    QComboBox* ComboBox3;
    QComboBox* ComboBox4;
    QComboBox* ComboBox5;
    QPushButton* Button1;
    QPushButton* Button2;

    // Refills the port list and shows committedSettings; runs at each showing.
    void FormActivate(QObject* sender);
    void ComboBox1Change(QObject* sender);
    void ComboBox2Change(QObject* sender);
    void ComboBox3Change(QObject* sender);
    void ComboBox4Change(QObject* sender);
    void ComboBox5Change(QObject* sender);
    // OK: commits the changed fields and closes.
    void Button1Click(QObject* sender);
    // Cancel: commits nothing and closes.
    void Button2Click(QObject* sender);

    // Every close but OK's reports no change.
    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void build_layout();
    std::function<QStringList()> avail_items_;
    bool committing_ = false;
};

// The items of a list widget at the time of the call (for the main window's ListBox_Avail).
std::function<QStringList()> items_of(const QListWidget* list);

// The one dialog of the program, created by the entry point after Form1.
extern TForm4* Form4;
