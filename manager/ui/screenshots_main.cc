// vigilo_screenshots: renders every window of the rule manager on an
// installation to PNG files, for the documentation and for review. Run with
// the offscreen platform; it needs no display.
//
//   vigilo_screenshots --home PROGRAM_DIR --out DIR
#include <cstdio>
#include <cstring>
#include <string>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>

#include "manager/manager_context.h"
#include "manager/ui/qt_prompts.h"
#include "manager/ui/window_gallery.h"

namespace {

constexpr char kUsage[] = "Usage: vigilo_screenshots --home PROGRAM_DIR --out DIR\n";

}  // namespace

int main(int argc, char** argv) {
  std::string home;
  QString out_dir;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--home") == 0 && i + 1 < argc) {
      home = argv[++i];
    } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
      out_dir = argv[++i];
    }
  }
  if (home.empty() || out_dir.isEmpty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  vigilo::SetProgramDirectory(home);
  QDir().mkpath(out_dir);
  QApplication application(argc, argv);
  vigilo::QtPrompts prompts;
  vigilo::ManagerContext context(prompts);

  int failures = 0;
  vigilo::VisitWindowGallery(context, [&](QWidget* widget, const char* name) {
    widget->show();
    QApplication::processEvents();
    QString path = QDir(out_dir).filePath(QString(name) + ".png");
    if (widget->grab().save(path)) {
      std::printf("%s\n", qPrintable(path));
    } else {
      std::fprintf(stderr, "vigilo_screenshots: cannot write %s\n", qPrintable(path));
      ++failures;
    }
    widget->hide();
  });
  return failures == 0 ? 0 : 1;
}
