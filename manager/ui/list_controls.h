// What the dialogs' lists and labelled controls share: a control named by its
// label for the accessibility interface, the entry a button acts on, a filter
// box over a long list and the line that says why a typed value is refused.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include <string>

#include <QString>

class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;

namespace vigilo {

// Names the label's buddy by the label's text without its mnemonic: a list or
// combo box is otherwise named by nothing or by its current value.
void NameByLabel(QLabel* label);

// From now on every drop-down list of the process is named for the
// accessibility interface by its accessible name or label, not by its
// choice. Called once at start-up (and by NameByLabel); calling it again
// does nothing. REQUIRES: a QApplication.
void NameComboBoxesByLabel();

// The entry of a single-selection list the buttons act on: the selected one,
// however it was selected (mouse, keys or the accessibility interface), not
// merely the current item. Its index among the entries as they were added
// (see AddSortHeader), or std::nullopt when nothing is selected.
std::optional<size_t> ChosenRow(const QListWidget* list);

// A header over the list, titled title, whose arrow sorts the entries
// ascending or descending by text; unsorted (the order they were added in)
// until it is clicked. Each entry keeps the index it was added at, which
// EntryIndex gives back, so a sorted list still answers for the right entry.
// The caller lays out the header directly above the list.
QWidget* AddSortHeader(QListWidget* list, const QString& title, QWidget* parent);
// The index among the entries as they were added of the list's row-th item.
size_t EntryIndex(const QListWidget* list, int row);

// A filter box that hides the list's entries not holding its text; Enter in
// it goes on to the first entry left in sight rather than closing the
// dialog. The
// caller lays out the returned label and edit (the label is the edit's
// buddy). list_name names the edit for the accessibility interface.
struct FilterBox {
  QLabel* label;
  QLineEdit* edit;
};
FilterBox AddFilterBox(QListWidget* list, const QString& list_name, QWidget* parent);

// Enter or Return in the edit calls act and is not passed on, so it never
// also presses the dialog's default button.
void OnEnter(QLineEdit* edit, std::function<void()> act);

// An empty line for the reason a typed value is refused, in the palette's
// warning colour; hidden while it has nothing to say.
QLabel* ReasonLabel(QWidget* parent);
// Shows the reason (or hides the line for an empty one).
void ShowReason(QLabel* line, const std::string& reason);

}  // namespace vigilo
