// CNotifyListDlg: the recipients of a Notify rule chosen from the user
// names, the group names or the table's user fields (NotifyListLogic).
#pragma once

#include <QDialog>

#include "manager/notify_list.h"

class QLabel;
class QLineEdit;
class QListWidget;

namespace vigilo {

class CNotifyListDlg : public QDialog {
  Q_OBJECT

 public:
  // entries: the names offered for the target (NotifyListLogic::Entries).
  CNotifyListDlg(const std::string& target, std::vector<std::string> entries,
                 const std::string& values, Prompts& prompts, QWidget* parent = nullptr);

  // The accepted Values text.
  const std::string& values() const { return values_; }

  void accept() override;

 private:
  NotifyListLogic logic_;
  QListWidget* list_;
  QLabel* other_label_;
  QLineEdit* other_;
  std::string values_;
};

}  // namespace vigilo
