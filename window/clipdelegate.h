#pragma once

#include <QStyledItemDelegate>

// Draws a clip's cell and shows its tooltip from a bounded head of the text: laying out
// megabytes of text on every repaint or hover would freeze the window. The item itself
// keeps the whole text.
class ClipDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The head of text shown for it: at most maxChars characters and maxLines lines, each
    // line end a single LF, followed by an ellipsis when anything was left out.
    static QString shownText(const QString &text, int maxChars, int maxLines);

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    QString displayText(const QVariant &value, const QLocale &locale) const override;
};
