#include "HistoryDialog.h"

#include "AddressBook.h"
#include "HistoryFormat.h"
#include "OperationHistory.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent>

HistoryDialog::HistoryDialog(const QString &address, bool english, QWidget *parent)
    : QDialog(parent), m_english(english), m_address(address),
      m_path(OperationHistory::filePath(address)), m_model(new HistoryTableModel(english, this)),
      m_watcher(new QFutureWatcher<Loaded>(this))
{
    setObjectName(QStringLiteral("historyDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    // A controller the operator named shows as "Mill 2 (10.0.0.5)".
    const QString controller = AddressBook::displayName(address);
    setWindowTitle(english ? QStringLiteral("History of %1").arg(controller)
                           : QStringLiteral("%1 的历史记录").arg(controller));

    m_status = new QLabel(tr2("Reading the history…", "正在读取历史记录…"), this);
    m_status->setObjectName(QStringLiteral("historyStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *filter = new QLineEdit(this);
    filter->setObjectName(QStringLiteral("historyFilter"));
    filter->setPlaceholderText(tr2("Filter by file name", "按文件名筛选"));
    filter->setClearButtonEnabled(true);
    connect(filter, &QLineEdit::textChanged, m_model, &HistoryTableModel::setFilter);

    auto *table = new QTableView(this);
    table->setObjectName(QStringLiteral("historyTable"));
    table->setModel(m_model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideMiddle);
    table->verticalHeader()->hide();
    // Fixed widths and row heights: sizing to contents would measure every row of a long
    // history.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // The remote path takes what the others leave.
    table->horizontalHeader()->setSectionResizeMode(HistoryTableModel::File, QHeaderView::Stretch);
    const QFontMetrics metrics = table->fontMetrics();
    const auto widthOf = [&](const QString &sample) {
        return metrics.horizontalAdvance(sample) + 2 * metrics.averageCharWidth();
    };
    table->setColumnWidth(HistoryTableModel::Time, widthOf(QStringLiteral("0000-00-00 00:00:00")));
    table->setColumnWidth(
        HistoryTableModel::Operation,
        widthOf(HistoryTableModel::operationText(HistoryEvent::Operation::NewFolder, english)));
    table->setColumnWidth(HistoryTableModel::LocalPath, 20 * metrics.averageCharWidth());
    table->setColumnWidth(HistoryTableModel::Size, widthOf(QStringLiteral("000,000,000")));
    table->setColumnWidth(HistoryTableModel::Sha256, widthOf(QStringLiteral("000000000000")));
    table->setColumnWidth(
        HistoryTableModel::Outcome,
        widthOf(HistoryTableModel::outcomeText(HistoryEvent::Outcome::Unverified, english)));

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(tr2("Close", "关闭"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(filter);
    layout->addWidget(table, 1);
    layout->addWidget(buttons);
    resize(1240, 540);

    connect(m_watcher, &QFutureWatcher<Loaded>::finished, this, &HistoryDialog::onLoaded);
    m_watcher->setFuture(QtConcurrent::run(&HistoryDialog::load, m_path));
}

QString HistoryDialog::tr2(const char *english, const char *chinese) const
{
    return QString::fromUtf8(m_english ? english : chinese);
}

HistoryDialog::Loaded HistoryDialog::load(const QString &path)
{
    Loaded loaded;
    QFile file(path);
    if (!file.exists())
        return loaded; // no operation yet
    if (!file.open(QIODevice::ReadOnly)) {
        loaded.error = file.errorString();
        return loaded;
    }
    QByteArray contents;
    const qint64 size = file.size();
    if (size > kMaxShownBytes && file.seek(size - kMaxShownBytes)) {
        contents = file.read(kMaxShownBytes);
        // The first line read is most likely cut; it is older than the rest anyway.
        contents.remove(0, contents.indexOf('\n') + 1);
        loaded.cut = true;
    } else {
        contents = file.readAll();
    }
    if (file.error() != QFileDevice::NoError) {
        loaded.error = file.errorString();
        return loaded;
    }
    HistoryFormat::Contents parsed = HistoryFormat::parse(contents);
    loaded.skipped = parsed.skipped;
    loaded.rows = HistoryTableModel::newestFirst(std::move(parsed.events));
    return loaded;
}

void HistoryDialog::onLoaded()
{
    Loaded loaded = m_watcher->result();
    const QString file = QDir::toNativeSeparators(m_path);
    if (!loaded.error.isEmpty()) {
        m_status->setText(tr2("Cannot read the history %1: %2", "无法读取历史记录 %1：%2")
                              .arg(file, loaded.error));
    } else if (loaded.rows.isEmpty() && loaded.skipped == 0) {
        m_status->setText(tr2("No history of %1 yet.", "%1 还没有历史记录。").arg(m_address));
    } else {
        QString text = tr2("%1 events, newest first, from %2.", "%1 条记录，最新的在前，来自 %2。")
                           .arg(loaded.rows.size())
                           .arg(file);
        if (loaded.cut)
            text += tr2(" Only the newest 64 MiB of the file are shown.",
                        "仅显示文件中最新的 64 MiB。");
        if (loaded.skipped > 0)
            text += tr2(" %1 unreadable lines skipped.", "跳过了 %1 行无法读取的内容。")
                        .arg(loaded.skipped);
        m_status->setText(text);
    }
    m_model->setRows(std::move(loaded.rows));
    emit historyShown();
}
