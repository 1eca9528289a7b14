// Prints the text of the X clipboard, or with --selection of the primary selection: lets the
// end-to-end tests read what they selected in a window without a clipboard tool installed.
#include <QClipboard>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication application(argc, argv);
    const bool selection = argc > 1 && QByteArray(argv[1]) == "--selection";
    const QByteArray text = QGuiApplication::clipboard()
                                ->text(selection ? QClipboard::Selection : QClipboard::Clipboard)
                                .toUtf8();
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    return text.isEmpty() ? 1 : 0;
}
