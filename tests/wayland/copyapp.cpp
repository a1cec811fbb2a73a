// A Qt application that copies a text with its HTML when it gets its first key, as a user's
// Ctrl+C in a rich-text editor would, and stays the clipboard's owner until it is ended. On
// Wayland a program may set the clipboard only in answer to an input event of its own.
// Prints "active" once it has the keyboard focus and "copied" once it has copied.
//
// Usage: copyapp TEXT HTML

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>

#include <cstdio>

namespace {

class Copier final : public QLabel {
public:
    Copier(QString text, QString html)
        : QLabel(QStringLiteral("copyapp")), text(std::move(text)), html(std::move(html))
    {
        setWindowTitle(QStringLiteral("copyapp"));
        setFocusPolicy(Qt::StrongFocus);
    }

protected:
    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::WindowActivate)
            say("active");
        return QLabel::event(event);
    }

    void keyPressEvent(QKeyEvent *) override
    {
        if (copied)
            return;
        copied = true;
        auto *data = new QMimeData;
        data->setText(text);
        data->setHtml(html);
        QGuiApplication::clipboard()->setMimeData(data);
        say("copied");
    }

private:
    static void say(const char *what)
    {
        std::printf("%s\n", what);
        std::fflush(stdout);
    }

    const QString text;
    const QString html;
    bool copied = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: copyapp TEXT HTML\n");
        return 2;
    }
    Copier window(args[1], args[2]);
    window.show();
    return app.exec();
}
