// The focused application of the paste bench: a text field that reports on stdout, with the
// monotonic clock in nanoseconds, every paste it receives. A pasted image (which a text field
// ignores) is read from the clipboard and reported with its size.
//   ready                    once the window is shown
//   active                   whenever the text field has the keyboard focus in an active window
//   text <ns> <characters>   a paste of text
//   image <ns> <w>x<h> ...   a paste of an image, with the time its transfer and decode took

#include "benchsupport.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTimer>

#include <cstdio>

namespace {

using bench::nowNs;

class PasteField : public QLineEdit {
public:
    PasteField()
    {
        connect(this, &QLineEdit::textChanged, this, [this](const QString &text) {
            if (text.isEmpty())
                return;
            std::printf("text %lld %d\n", nowNs(), int(text.size()));
            QTimer::singleShot(0, this, &QLineEdit::clear);
        });
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QString before = text();
        QLineEdit::keyPressEvent(event);
        if (!event->matches(QKeySequence::Paste) || text() != before)
            return;
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        if (!data || !data->hasImage())
            return;
        // What imageData() does, in two timed steps: the transfer of the encoded image (which
        // the owner may have to encode first), then the decode.
        const long long start = nowNs();
        const QByteArray encoded = data->data(QStringLiteral("application/x-qt-image"));
        const long long fetched = nowNs();
        const QImage image = QImage::fromData(encoded);
        const long long decoded = nowNs();
        std::printf("image %lld %dx%d fetch %.1f ms, decode %.1f ms, %d bytes\n", decoded,
                    image.width(), image.height(), double(fetched - start) / 1e6,
                    double(decoded - fetched) / 1e6, int(encoded.size()));
    }

    void focusInEvent(QFocusEvent *event) override
    {
        QLineEdit::focusInEvent(event);
        std::printf("active\n");
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // Each report goes out as it is printed.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    PasteField field;
    field.setWindowTitle(QStringLiteral("bench paste receiver"));
    field.resize(400, 40);
    field.move(600, 300);
    field.show();
    std::printf("ready\n");
    // Asked for until the window has it: a window manager maps the window a little later, and
    // may take the focus back at first.
    QTimer focus;
    QObject::connect(&focus, &QTimer::timeout, &field, [&field] {
        if (!field.isActiveWindow())
            field.activateWindow();
    });
    focus.start(200);
    return app.exec();
}
