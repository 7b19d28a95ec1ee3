#include "PreviewWindow.h"

#include "GcodeInterpreter.h"
#include "PreviewTexts.h"
#include "ProgramTextModel.h"
#include "ProgramTextView.h"
#include "ToolpathView.h"

#include <QButtonGroup>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QThreadPool>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent>

PreviewWindow::PreviewWindow(bool english, QWidget *parent)
    : QWidget(parent, Qt::Window), m_english(english)
{
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1200, 760);
    setWindowTitle(tr2("G-code preview", "G 代码预览"));

    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    m_nameLabel = new QLabel(this);
    m_nameLabel->setStyleSheet(QStringLiteral("QLabel { font-weight: 600; font-size: 15px; }"));
    top->addWidget(m_nameLabel);
    top->addStretch();

    m_projectionButtons = new QButtonGroup(this);
    const struct
    {
        ToolpathView::Projection projection;
        const char *english;
        const char *chinese;
    } projections[] = {{ToolpathView::Projection::Top, "Top (XY)", "俯视 (XY)"},
                       {ToolpathView::Projection::Front, "Front (XZ)", "前视 (XZ)"},
                       {ToolpathView::Projection::Side, "Side (YZ)", "侧视 (YZ)"},
                       {ToolpathView::Projection::Isometric, "Isometric", "等轴测"}};
    for (const auto &entry : projections) {
        auto *button = new QToolButton(this);
        button->setText(tr2(entry.english, entry.chinese));
        button->setCheckable(true);
        button->setChecked(entry.projection == ToolpathView::Projection::Top);
        m_projectionButtons->addButton(button, int(entry.projection));
        top->addWidget(button);
    }
    auto *fitButton = new QPushButton(tr2("Fit (F)", "适合窗口 (F)"), this);
    auto *openButton = new QPushButton(tr2("Open…", "打开…"), this);
    fitButton->setObjectName(QStringLiteral("fitButton"));
    openButton->setObjectName(QStringLiteral("openButton"));
    top->addSpacing(12);
    top->addWidget(fitButton);
    top->addWidget(openButton);
    layout->addLayout(top);

    m_statusLabel = new QLabel(this);
    m_statusLabel->setWordWrap(true);
    layout->addWidget(m_statusLabel);

    auto *splitter = new QSplitter(Qt::Horizontal, this);
    m_textModel = new ProgramTextModel(this);
    m_textView = new ProgramTextView(m_textModel, splitter);
    m_textView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    auto *right = new QSplitter(Qt::Vertical, splitter);
    m_plot = new ToolpathView(right);
    auto *details = new QWidget(right);
    auto *detailsLayout = new QHBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    // The summary scrolls: with a machine's run time and travel it outgrows its place.
    auto *summaryArea = new QScrollArea(details);
    summaryArea->setWidgetResizable(true);
    summaryArea->setFrameShape(QFrame::NoFrame);
    m_summaryLabel = new QLabel(summaryArea);
    summaryArea->setWidget(m_summaryLabel);
    m_summaryLabel->setWordWrap(true);
    m_summaryLabel->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_summaryLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_notesList = new QListWidget(details);
    m_notesList->setWordWrap(true);
    m_notesList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detailsLayout->addWidget(summaryArea, 3);
    detailsLayout->addWidget(m_notesList, 2);
    splitter->setSizes({340, 860});
    right->setSizes({560, 200});
    layout->addWidget(splitter, 1);

    m_plot->setLegend(PreviewTexts::legend(m_english));

    connect(m_projectionButtons, &QButtonGroup::idClicked, this,
            [this](int id) { m_plot->setProjection(ToolpathView::Projection(id)); });
    connect(fitButton, &QPushButton::clicked, m_plot, &ToolpathView::fit);
    connect(openButton, &QPushButton::clicked, this, &PreviewWindow::onOpenClicked);
    connect(m_textView, &ProgramTextView::currentRowChanged, m_plot,
            &ToolpathView::setSelectedLine);
    connect(m_plot, &ToolpathView::lineClicked, this, &PreviewWindow::selectLine);
    connect(m_notesList, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { selectLine(item->data(Qt::UserRole).toInt()); });
}

PreviewWindow::~PreviewWindow()
{
    // The worker thread stops at its next look; its result is dropped with the watcher.
    if (m_cancel)
        m_cancel->store(true);
    // Freeing a large program and its toolpath takes a while: their last references go to a
    // worker thread.
    std::shared_ptr<const Toolpath> toolpath = m_plot->toolpath();
    QByteArray text = m_textModel->text();
    m_plot->setToolpath(nullptr);
    m_textModel->setProgram(QByteArray(), nullptr);
    delete m_watcher;
    QThreadPool::globalInstance()->start(
        [toolpath = std::move(toolpath), text = std::move(text)]() mutable {
            toolpath.reset();
            text = QByteArray();
        });
}

void PreviewWindow::setMachineProfile(const MachineProfile &machine)
{
    m_machine = machine.usable();
    m_plot->setMachineTravel(m_machine);
}

QString PreviewWindow::tr2(const char *english, const char *chinese) const
{
    return m_english ? QString::fromUtf8(english) : QString::fromUtf8(chinese);
}

QString PreviewWindow::statusText() const
{
    return m_statusLabel->text();
}

QString PreviewWindow::tooLargeText(const QString &name, qint64 size, bool english)
{
    const QString mib = QString::number(double(size) / (1024 * 1024), 'f', 1);
    return (english ? QStringLiteral("“%1” holds %2 MiB (%3 bytes); the preview reads programs "
                                     "of up to 64 MiB.")
                    : QStringLiteral("“%1” 大小为 %2 MiB（%3 字节）；预览只读取不超过 64 MiB "
                                     "的程序。"))
        .arg(name, mib, QString::number(size));
}

void PreviewWindow::setStatus(const QString &text, bool problem)
{
    m_statusLabel->setStyleSheet(problem ? QStringLiteral("QLabel { color: #b91c1c; }")
                                         : QString());
    m_statusLabel->setText(text);
}

void PreviewWindow::showReading(const QString &name)
{
    m_name = name;
    m_nameLabel->setText(name);
    setWindowTitle(tr2("G-code preview - %1", "G 代码预览 - %1").arg(name));
    setStatus(tr2("Reading the program from the controller…", "正在从控制器读取程序…"), false);
}

void PreviewWindow::showFailure(const QString &name, const QString &message)
{
    showReading(name);
    setStatus(message, true);
}

void PreviewWindow::showProgram(const QString &name, const QByteArray &text)
{
    interpretInBackground(name, [text] {
        Loaded loaded;
        loaded.text = text;
        loaded.size = text.size();
        return loaded;
    });
}

void PreviewWindow::openLocalFile(const QString &path)
{
    interpretInBackground(QFileInfo(path).fileName(), [path] {
        Loaded loaded;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            loaded.error = file.errorString();
            return loaded;
        }
        loaded.size = file.size();
        if (loaded.size <= kMaxProgramBytes)
            loaded.text = file.read(kMaxProgramBytes + 1);
        if (loaded.text.size() > kMaxProgramBytes)
            loaded.size = loaded.text.size(); // it grew while being read
        if (file.error() != QFileDevice::NoError)
            loaded.error = file.errorString();
        return loaded;
    });
}

void PreviewWindow::interpretInBackground(const QString &name, std::function<Loaded()> load)
{
    showReading(name);
    setStatus(tr2("Interpreting the program…", "正在解析程序…"), false);
    // A program still being interpreted for this window is abandoned.
    if (m_cancel)
        m_cancel->store(true);
    if (m_watcher)
        m_watcher->deleteLater();
    m_cancel = std::make_shared<std::atomic<bool>>(false);
    m_watcher = new QFutureWatcher<Loaded>(this);
    connect(m_watcher, &QFutureWatcher<Loaded>::finished, this, &PreviewWindow::onInterpreted);
    m_watcher->setFuture(
        QtConcurrent::run([load = std::move(load), cancel = m_cancel, machine = m_machine] {
            Loaded loaded = load();
            if (loaded.error.isEmpty() && loaded.size <= kMaxProgramBytes) {
                loaded.toolpath = std::make_shared<const Toolpath>(
                    GcodeInterpreter::interpret(loaded.text, cancel.get(), machine));
            }
            return loaded;
        }));
}

void PreviewWindow::onInterpreted()
{
    auto *watcher = static_cast<QFutureWatcher<Loaded> *>(sender());
    if (watcher != m_watcher)
        return;
    const Loaded loaded = watcher->result();
    if (!loaded.error.isEmpty()) {
        setStatus(tr2("Cannot read “%1”: %2", "无法读取“%1”：%2").arg(m_name, loaded.error), true);
        return;
    }
    if (loaded.size > kMaxProgramBytes) {
        setStatus(tooLargeText(m_name, loaded.size, m_english), true);
        return;
    }
    const Toolpath &toolpath = *loaded.toolpath;
    m_textModel->setProgram(loaded.text, loaded.toolpath);
    m_plot->setToolpath(loaded.toolpath);
    m_summaryLabel->setText(
        PreviewTexts::summary(toolpath, m_english, m_machine).join(QLatin1Char('\n')));

    m_notesList->clear();
    for (const Note &note : toolpath.notes) {
        auto *item = new QListWidgetItem(PreviewTexts::note(note, m_english), m_notesList);
        item->setData(Qt::UserRole, note.line);
        if (note.isProblem())
            item->setForeground(QColor(0xb9, 0x1c, 0x1c));
    }
    if (toolpath.notesLeftOut > 0) {
        new QListWidgetItem(
            tr2("… and %1 more notes", "……另有 %1 条说明").arg(toolpath.notesLeftOut), m_notesList);
    }

    const QString verdict = PreviewTexts::verdict(toolpath, m_english);
    const QString travel = PreviewTexts::travelVerdict(toolpath, m_machine, m_english);
    int problems = 0;
    for (const Note &note : toolpath.notes)
        problems += note.isProblem() && note.kind != Note::OutsideTravel ? note.count : 0;
    if (!verdict.isEmpty()) {
        setStatus(verdict, true);
    } else if (toolpath.movesOutsideTravel > 0) {
        setStatus(travel, true);
    } else {
        QString text = problems > 0 ? tr2("%1 lines with problems, listed below the plot.",
                                          "%1 行有问题，列在图形下方。")
                                          .arg(problems)
                                    : tr2("%1 moves.", "%1 个移动。").arg(toolpath.moves.size());
        if (!travel.isEmpty())
            text += QLatin1Char(' ') + travel;
        setStatus(text, problems > 0);
    }
    emit programShown();
}

void PreviewWindow::selectLine(int line)
{
    m_textView->setCurrentRow(line);
    m_plot->setSelectedLine(line);
}

void PreviewWindow::onOpenClicked()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr2("Open a G-code program", "打开 G 代码程序"));
    if (!path.isEmpty())
        openLocalFile(path);
}
