// A window whose line edit keeps the keyboard focus and records what reaches it, so that
// the end-to-end tests can tell which keys and pastes a focused application really gets.
// Each event is appended to the log file (or stdout) as one line:
//   key <sequence>   a key press the line edit received, e.g. "key F3", "key Ctrl+V"
//   text <text>      the line edit's whole text after each change
// Escape clears the text, so that one instance serves several cases.

#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QTextStream>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

namespace {

class Recorder : public QObject {
public:
    explicit Recorder(QFile *log) : log(log) {}

    void write(const QString &line)
    {
        QByteArray bytes = line.toUtf8();
        bytes.append('\n');
        log->write(bytes);
        log->flush();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<QKeyEvent *>(event);
            // Modifiers alone are not keys the tests ask about.
            switch (key->key()) {
            case Qt::Key_Control:
            case Qt::Key_Shift:
            case Qt::Key_Alt:
            case Qt::Key_Meta:
            case Qt::Key_NumLock:
            case Qt::Key_CapsLock:
                break;
            default:
                write(QStringLiteral("key ") +
                      QKeySequence(int(key->modifiers() & ~Qt::KeypadModifier) | key->key())
                          .toString(QKeySequence::PortableText));
            }
            if (key->key() == Qt::Key_Escape) {
                static_cast<QLineEdit *>(watched)->clear();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QFile *log;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString title = args.size() > 1 ? args.at(1) : QStringLiteral("focusapp");

    QFile log;
    if (args.size() > 2) {
        log.setFileName(args.at(2));
        if (!log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
            std::fprintf(stderr, "focusapp: cannot open %s\n", qPrintable(args.at(2)));
            return 2;
        }
    } else if (!log.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return 2;
    }

    Recorder recorder(&log);
    QWidget window;
    window.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&window);
    auto *edit = new QLineEdit;
    layout->addWidget(edit);
    edit->installEventFilter(&recorder);
    QObject::connect(edit, &QLineEdit::textChanged,
                     [&recorder](const QString &text) { recorder.write("text " + text); });
    window.resize(400, 80);
    window.show();
    edit->setFocus();
    recorder.write(QStringLiteral("ready"));
    return app.exec();
}
