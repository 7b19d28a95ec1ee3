#pragma once

#include <QString>

class QAbstractItemModel;
class QWidget;

// Asks the operator for the new name of a listed entry: an input dialog that proposes the
// current name. A name that breaks the New Folder name rules, or that an entry of the list
// already holds, is refused with a warning box; rename never replaces another entry.
struct RenamePrompt
{
    enum class Outcome { Cancelled, Refused, Accepted };

    // list: the remote list's model, whose name items hold the entries' own names.
    static RenamePrompt ask(QWidget *parent, bool english, const QString &oldName,
                            const QAbstractItemModel *list);

    Outcome outcome = Outcome::Cancelled; // an empty or unchanged name counts as cancelled
    QString newName;
};
