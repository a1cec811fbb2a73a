#pragma once

#include <QStyledItemDelegate>

// Draws a cell and its tooltip from a bounded head of the text: laying out megabytes of text
// on every repaint or hover would freeze the window.
class ClipDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // At most maxChars characters and maxLines lines of text, each line end a single LF, and
    // an ellipsis when anything was left out.
    static QString shownText(const QString &text, int maxChars, int maxLines);

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    QString displayText(const QVariant &value, const QLocale &locale) const override;
};
