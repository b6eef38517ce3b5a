// The window gallery: every dialog and menu of the rule manager built on an
// installation as a user meets it (a rule being composed, a condition
// reopened, the demo's lists), handed one by one to a visitor. The
// screenshot renderer saves each to a PNG; the walk tests check each for
// mnemonics and accessibility names.
#pragma once

#include <functional>

class QWidget;

namespace vigilo {

class ManagerContext;

// Called with each window while it exists, with a file-name-like name of it
// ("query-builder", "main-window-file-menu"). The window is neither shown nor
// hidden by the gallery.
using WindowVisitor = std::function<void(QWidget* window, const char* name)>;

// Builds the windows on the program directory context reads and visits them
// in turn. REQUIRES: a QApplication.
void VisitWindowGallery(ManagerContext& context, const WindowVisitor& visit);

}  // namespace vigilo
