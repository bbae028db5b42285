#pragma once
// The activity log's window: a filter field, a Clear button and the five-column table. The window is
// built on demand and forgotten when closed; the model (entries and filter) stays.

#include <QObject>
#include <QPointer>

class QLineEdit;
class QTableView;
class QWidget;

namespace pavo::overlay {

class ActivityLogModel;
class ActivityLogTable;

class ActivityLogWindowController : public QObject {
  public:
    explicit ActivityLogWindowController(ActivityLogModel& model, QObject* parent = nullptr);
    ~ActivityLogWindowController() override;

    // Opens the window, or brings it to the front.
    void showWindow();

    // Present only while the window is open.
    QWidget* window() const;
    QTableView* tableView() const;
    QLineEdit* searchField() const;

  private:
    void build();
    void reload();

    ActivityLogModel& model_;
    QPointer<QWidget> window_;
    QPointer<QTableView> tableView_;
    QPointer<QLineEdit> searchField_;
    QPointer<ActivityLogTable> table_;
};

}  // namespace pavo::overlay
