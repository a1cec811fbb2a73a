// The Qt platform the unit tests of the Windows build run on under Wine, in place of the
// "offscreen" one they use on Linux, which the Windows kit lacks (it needs FreeType).
// Qt's "minimal" does not serve on Windows: it has no native interface, which
// QMessageBox::showEvent dereferences there, and it activates every new window, so a
// tooltip deactivates the window under it and hides at once. Like offscreen, this one keeps
// the clipboard inside the process, so a copy is seen at once.

#include <QImage>
#include <QtCore/private/qeventdispatcher_win_p.h>
#include <QtGui/qpa/qplatformbackingstore.h>
#include <QtGui/qpa/qplatformfontdatabase.h>
#include <QtGui/qpa/qplatformintegration.h>
#include <QtGui/qpa/qplatformintegrationplugin.h>
#include <QtGui/qpa/qplatformnativeinterface.h>
#include <QtGui/qpa/qplatformscreen.h>
#include <QtGui/qpa/qplatformwindow.h>
#include <QtGui/qpa/qwindowsysteminterface.h>

namespace {

class Screen final : public QPlatformScreen {
public:
    QRect geometry() const override { return QRect(0, 0, 1280, 800); }
    int depth() const override { return 32; }
    QImage::Format format() const override { return QImage::Format_ARGB32_Premultiplied; }
};

class Window final : public QPlatformWindow {
public:
    using QPlatformWindow::QPlatformWindow;

    void setVisible(bool visible) override
    {
        // As on a desktop, a window that shows becomes the active one, unless it is a tooltip.
        if (visible && window()->type() != Qt::ToolTip)
            QWindowSystemInterface::handleWindowActivated(window());
        QPlatformWindow::setVisible(visible);
    }
};

class BackingStore final : public QPlatformBackingStore {
public:
    using QPlatformBackingStore::QPlatformBackingStore;

    QPaintDevice *paintDevice() override { return &image; }
    void flush(QWindow *, const QRegion &, const QPoint &) override {}
    void resize(const QSize &size, const QRegion &) override
    {
        if (image.size() != size)
            image = QImage(size, QImage::Format_ARGB32_Premultiplied);
    }

private:
    QImage image;
};

// No fonts: text is laid out with Qt's box font, the same on every machine.
class FontDatabase final : public QPlatformFontDatabase {
public:
    void populateFontDatabase() override {}
};

class Integration final : public QPlatformIntegration {
public:
    Integration()
    {
        QWindowSystemInterface::setSynchronousWindowSystemEvents(true);
        QWindowSystemInterface::handleScreenAdded(new Screen);
    }

    bool hasCapability(Capability cap) const override
    {
        return cap == ThreadedPixmaps || cap == MultipleWindows ||
               QPlatformIntegration::hasCapability(cap);
    }
    QPlatformWindow *createPlatformWindow(QWindow *window) const override
    {
        return new Window(window);
    }
    QPlatformBackingStore *createPlatformBackingStore(QWindow *window) const override
    {
        return new BackingStore(window);
    }
    QAbstractEventDispatcher *createEventDispatcher() const override
    {
        return new QEventDispatcherWin32;
    }
    QPlatformFontDatabase *fontDatabase() const override { return &fonts; }
    QPlatformNativeInterface *nativeInterface() const override { return &native; }

private:
    mutable FontDatabase fonts;
    mutable QPlatformNativeInterface native;
};

} // namespace

class TestPlatformPlugin final : public QPlatformIntegrationPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QPlatformIntegrationFactoryInterface_iid FILE "testplatform.json")

public:
    QPlatformIntegration *create(const QString &key, const QStringList &) override
    {
        return key.compare(QLatin1String("tesseltest"), Qt::CaseInsensitive) == 0 ? new Integration
                                                                                  : nullptr;
    }
};

#include "testplatform.moc"
