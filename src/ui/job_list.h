// The window's list of jobs: when, which job, its pages, where it went or why it
// failed, and where it is kept. It outlives Stop, so a failure can still be read
// and its kept job found after the session ended.
#pragma once
#include <QGroupBox>

namespace config {
struct JobReport;
}
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace ui {

class JobList : public QGroupBox {
    Q_OBJECT
  public:
    enum Column { Time, Job, Pages, Outcome, Kept, kColumns };
    explicit JobList(QWidget* parent = nullptr);
    // A job received, or its delivery's outcome (a kept job delivered again included).
    void Add(const config::JobReport& job);
    QTreeWidget* Tree() const { return tree_; }
    QPushButton* OpenFolder() const { return open_; }
    // The folder "Open folder" opens: the selected job's (else the newest job's) kept
    // copy's, else its job file's.
    QString FolderToOpen() const;

  private:
    QTreeWidgetItem* Find(int column, const QString& text, bool pendingOnly) const;
    QTreeWidget* tree_ = nullptr;
    QPushButton* open_ = nullptr;
    int count_ = 0;
};

} // namespace ui
