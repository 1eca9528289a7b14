#include "config_serial/form4.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include "config_serial/serial_settings.h"

using config_serial::SettingsList;

TForm4* Form4 = nullptr;

namespace {

QComboBox* make_list(QWidget* parent, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setEditable(false);
    box->addItems(items);
    return box;
}

QLabel* make_label(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QPushButton* make_button(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    // An Enter anywhere in the dialog must not press a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

void select_committed(QComboBox* box, SettingsList list) {
    box->setCurrentIndex(config_serial::item_for(list, config_serial::committedSettings));
}

void store_pick(QComboBox* box, SettingsList list) {
    config_serial::apply_pick(list, box->currentIndex(), config_serial::pendingSettings);
}

}  // namespace

TForm4::TForm4(std::function<QStringList()> avail_items, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Label1(make_label(QStringLiteral("Porta serial"), this)),
      Label2(make_label(QStringLiteral("Baud rate"), this)),
      Label3(make_label(QStringLiteral("Paridade"), this)),
      Label4(make_label(QStringLiteral("Data bits"), this)),
      Label5(make_label(QStringLiteral("Stop bits"), this)),
      ComboBox1(make_list(this, {})),
      ComboBox2(make_list(this, {"1200", "2400", "4800", "9600", "19200", "38400", "57600",
                                 "115200", "128000", "256000"})),
      ComboBox3(make_list(
          this, {QStringLiteral("Nenhuma"), QStringLiteral("Ímpar"), QStringLiteral("Par"),
                 QStringLiteral("Mark"), QStringLiteral("Space")})),
      ComboBox4(make_list(this, {"8", "7", "6", "5", "4"})),
      ComboBox5(make_list(this, {"1", QStringLiteral("1½"), "2"})),
      Button1(make_button(QStringLiteral("OK"), this)),
      Button2(make_button(QStringLiteral("Cancel"), this)),
      avail_items_(std::move(avail_items)) {
    setWindowTitle(QStringLiteral("Configuração"));
    build_layout();

    // Only the operator's picks count: `activated` is not emitted for the
    // selections FormActivate makes.
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(ComboBox1); });
    connect(ComboBox2, &QComboBox::activated, this, [this] { ComboBox2Change(ComboBox2); });
    connect(ComboBox3, &QComboBox::activated, this, [this] { ComboBox3Change(ComboBox3); });
    connect(ComboBox4, &QComboBox::activated, this, [this] { ComboBox4Change(ComboBox4); });
    connect(ComboBox5, &QComboBox::activated, this, [this] { ComboBox5Change(ComboBox5); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(Button1); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(Button2); });
}

TForm4::~TForm4() {
    if (Form4 == this) {
        Form4 = nullptr;
    }
}

std::function<QStringList()> items_of(const QListWidget* list) {
    return [list] {
        QStringList items;
        for (int i = 0; i < list->count(); ++i) {
            items << list->item(i)->text();
        }
        return items;
    };
}

void TForm4::build_layout() {
    auto* grid = new QGridLayout;
    const std::pair<QLabel*, QComboBox*> rows[] = {{Label1, ComboBox1},
                                                   {Label2, ComboBox2},
                                                   {Label3, ComboBox3},
                                                   {Label4, ComboBox4},
                                                   {Label5, ComboBox5}};
    int row = 0;
    for (auto [label, box] : rows) {
        label->setBuddy(box);
        grid->addWidget(label, row, 0);
        grid->addWidget(box, row, 1);
        ++row;
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button1);
    buttons->addStretch();
    buttons->addWidget(Button2);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(grid);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(ComboBox1, ComboBox2);
    setTabOrder(ComboBox2, ComboBox3);
    setTabOrder(ComboBox3, ComboBox4);
    setTabOrder(ComboBox4, ComboBox5);
    setTabOrder(ComboBox5, Button1);
    setTabOrder(Button1, Button2);
    Button1->setFocus();
}

void TForm4::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A spontaneous show is the window system restoring a minimised dialog, not a new showing:
    // the operator's picks stay.
    if (!event->spontaneous()) {
        FormActivate(this);
    }
}

void TForm4::FormActivate(QObject*) {
    ComboBox1->clear();
    ComboBox1->addItems(avail_items_ ? avail_items_() : QStringList{});
    config_serial::pendingSettings = config_serial::committedSettings;
    select_committed(ComboBox1, SettingsList::Port);
    select_committed(ComboBox2, SettingsList::BaudRate);
    select_committed(ComboBox3, SettingsList::Parity);
    select_committed(ComboBox4, SettingsList::DataBits);
    select_committed(ComboBox5, SettingsList::StopBits);
}

void TForm4::ComboBox1Change(QObject*) {
    store_pick(ComboBox1, SettingsList::Port);
}
void TForm4::ComboBox2Change(QObject*) {
    store_pick(ComboBox2, SettingsList::BaudRate);
}
void TForm4::ComboBox3Change(QObject*) {
    store_pick(ComboBox3, SettingsList::Parity);
}
void TForm4::ComboBox4Change(QObject*) {
    store_pick(ComboBox4, SettingsList::DataBits);
}
void TForm4::ComboBox5Change(QObject*) {
    store_pick(ComboBox5, SettingsList::StopBits);
}

void TForm4::Button1Click(QObject*) {
    config_serial::SettingsChange = config_serial::commit_changes(config_serial::pendingSettings,
                                                                  config_serial::committedSettings);
    committing_ = true;
    accept();
}

void TForm4::Button2Click(QObject*) {
    reject();
}

void TForm4::done(int result) {
    if (!committing_) {
        config_serial::SettingsChange = 0;
    }
    committing_ = false;
    QDialog::done(result);
}
