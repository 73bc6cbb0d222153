#include "job_list.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QPushButton>
#include <QTime>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/report.h"
#include "controlids.h"
#include "main_window.h"

namespace ui {

namespace {
constexpr int kMaxJobs = 200;
constexpr int kPathRole = Qt::UserRole; // the job file's full path (Job column)
const QString kReceived = "received";   // no outcome yet
QString Q(const std::string& s) {
    return QString::fromStdString(s);
}
} // namespace

JobList::JobList(QWidget* parent) : QGroupBox("Jobs", parent) {
    tree_ = new QTreeWidget;
    tree_->setProperty("controlId", control::kJobList);
    tree_->setColumnCount(kColumns);
    tree_->setHeaderLabels({"Time", "Job", "Pages", "Where it went or why it failed", "Kept as"});
    tree_->setRootIsDecorated(false);
    tree_->setUniformRowHeights(true);
    tree_->setAlternatingRowColors(true);
    tree_->setWordWrap(false);
    tree_->setTextElideMode(Qt::ElideMiddle);
    const QFontMetrics fm = tree_->fontMetrics();
    QHeaderView* header = tree_->header();
    header->setStretchLastSection(false);
    header->resizeSection(Time, fm.horizontalAdvance("00:00:00") + 16);
    header->resizeSection(Job, fm.horizontalAdvance("JOB0000.txt") + 16);
    header->resizeSection(Pages, fm.horizontalAdvance("Pages") + 16);
    header->resizeSection(Kept, fm.horizontalAdvance("/var/spool/failed/JOB0.txt"));
    header->setSectionResizeMode(Outcome, QHeaderView::Stretch);
    // Four rows show; more scroll inside the list, never the window.
    const int row = tree_->fontMetrics().lineSpacing() + 4;
    tree_->setFixedHeight(row * 5 + tree_->header()->sizeHint().height());
    open_ = new QPushButton("Open &folder");
    open_->setProperty("controlId", control::kOpenFolder);
    open_->setAutoDefault(false);
    open_->setEnabled(false);
    open_->setToolTip("Opens the folder of the selected job: where it is kept, else its job file");
    connect(open_, &QPushButton::clicked, this, [this] {
        const QString folder = FolderToOpen();
        if (!folder.isEmpty()) Hooks().openFolder(folder);
    });
    auto* v = new QVBoxLayout(this);
    v->addWidget(tree_);
    v->addWidget(open_, 0, Qt::AlignRight);
}

QTreeWidgetItem* JobList::Find(int column, const QString& text, bool pendingOnly) const {
    // The newest first: a job name comes back once its number is free again.
    for (int i = tree_->topLevelItemCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* item = tree_->topLevelItem(i);
        const QString value =
            column == Job ? item->data(Job, kPathRole).toString() : item->toolTip(column);
        if (value == text && (!pendingOnly || item->text(Outcome) == kReceived)) return item;
    }
    return nullptr;
}

void JobList::Add(const config::JobReport& job) {
    const QString name = Q(job.name);
    QTreeWidgetItem* item = nullptr;
    if (!job.received) {
        // A kept job delivered again is the row that says where it was kept.
        if (job.delivered && !job.kept.empty()) item = Find(Kept, Q(job.kept), false);
        if (!item) item = Find(Job, name, true);
    }
    if (!item) {
        item = new QTreeWidgetItem(tree_);
        item->setText(Job, QFileInfo(name).fileName());
        item->setData(Job, kPathRole, name);
        item->setToolTip(Job, name);
        item->setText(Outcome, kReceived);
        ++count_;
        setTitle(QString("Jobs (%1)").arg(count_));
    }
    item->setText(Time, QTime::currentTime().toString("HH:mm:ss"));
    if (job.received) {
        item->setText(Pages, QString::number(job.pages));
    } else if (job.delivered) {
        item->setText(Outcome, "delivered to " + Q(job.where) +
                                   (job.kept.empty() ? "" : ", after it was kept"));
        // Where it had been kept stays in the tool tip; its folder is the job file's again.
        item->setText(Kept, "");
        item->setToolTip(Kept, job.kept.empty() ? "" : Q(job.kept));
        item->setData(Kept, kPathRole, QString());
    } else {
        const QString why = job.reason.empty() ? "no reason given" : Q(job.reason);
        item->setText(Outcome,
                      "failed" + (job.where.empty() ? "" : " on " + Q(job.where)) + ": " + why);
        item->setText(Kept, job.kept.empty() ? "not kept" : Q(job.kept));
        item->setToolTip(Kept, Q(job.kept));
        item->setData(Kept, kPathRole, Q(job.kept));
    }
    item->setToolTip(Outcome, item->text(Outcome));
    while (tree_->topLevelItemCount() > kMaxJobs)
        delete tree_->takeTopLevelItem(0);
    tree_->scrollToItem(item);
    open_->setEnabled(true);
}

QString JobList::FolderToOpen() const {
    QTreeWidgetItem* item = tree_->currentItem();
    if (!item && tree_->topLevelItemCount() > 0)
        item = tree_->topLevelItem(tree_->topLevelItemCount() - 1);
    if (!item) return {};
    const QString kept = item->data(Kept, kPathRole).toString();
    const QString path = kept.isEmpty() ? item->data(Job, kPathRole).toString() : kept;
    return QFileInfo(path).absolutePath();
}

} // namespace ui
