#pragma once

#include "TransferPlan.h"

#include <optional>

class QWidget;

// Asks the operator, once per file of a batch, before a file is written over another: Replace,
// Skip, Replace all, Skip all or Cancel. An "all" answer stands for the rest of the batch, so
// one prompt serves a whole folder. The same box asks about a file whose name an earlier file
// of the batch takes on the target side: keep both (the later one gets a free name) or skip it.
class OverwritePrompt
{
public:
    enum class Answer { Replace, Skip, Cancel };

    OverwritePrompt(QWidget *parent, bool english, bool uploading);

    // incoming would replace existing (both by their sizes and times).
    Answer askReplace(const QString &path, const TransferItem &incoming,
                      const TransferItem &existing);
    // Replace means: keep both, the later under a free name.
    Answer askClash(const QString &path, const QString &sameAs);

private:
    Answer ask(const QString &title, const QString &text, const QString &details,
               const QString &replaceLabel, std::optional<Answer> *forAll);
    QString text(const QString &english, const QString &chinese) const
    {
        return m_english ? english : chinese;
    }
    QString describe(const TransferItem &item) const;

    QWidget *const m_parent;
    const bool m_english;
    const bool m_uploading;
    std::optional<Answer> m_replaceAll;
    std::optional<Answer> m_clashAll;
};
