#include "clipdelegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

namespace {
const int CellChars = 300;
const int CellLines = 8;
const int TipChars = 1000;
const int TipLines = 25;
const QChar Ellipsis(0x2026);
} // namespace

QString ClipDelegate::shownText(const QString &text, int maxChars, int maxLines)
{
    int end = qMin(text.size(), maxChars);
    // Never cut a character outside the BMP in half.
    if (end > 0 && end < text.size() && text.at(end - 1).isHighSurrogate())
        --end;
    int lines = 1;
    for (int i = 0; i < end; ++i) {
        if (text.at(i) == QLatin1Char('\n') && ++lines > maxLines) {
            end = i;
            break;
        }
    }
    QString shown = text.left(end);
    // Windows programs and URI lists end lines with CR LF, which would show as two breaks.
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (end < text.size())
        shown += Ellipsis;
    return shown;
}

QString ClipDelegate::displayText(const QVariant &value, const QLocale &locale) const
{
    // Bound before the base class sees it: it copies and rewrites the whole text.
    if (value.userType() == QMetaType::QString)
        return QStyledItemDelegate::displayText(shownText(value.toString(), CellChars, CellLines),
                                                locale);
    return QStyledItemDelegate::displayText(value, locale);
}

bool ClipDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                             const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (!event || !view || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const QString tip = index.data(Qt::ToolTipRole).toString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return true;
    }
    // Always plain text: clipboard content that looks like HTML must not be interpreted
    // (an <img> tag would make the tooltip load files).
    const QString html = QStringLiteral("<p style=\"white-space:pre-wrap\">") +
                         shownText(tip, TipChars, TipLines).toHtmlEscaped() +
                         QStringLiteral("</p>");
    QToolTip::showText(event->globalPos(), html, view, view->visualRect(index));
    return true;
}
