#include "platform/sql/dbf_table_cache.h"

#include <sys/stat.h>

#include <list>
#include <mutex>

namespace vigilo::sql {

namespace {

constexpr size_t kKept = 64;

struct Kept {
  std::string path;
  std::shared_ptr<DbfTableData> table;
};

std::mutex g_mutex;
std::list<Kept> g_kept;  // most recently lent first

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::shared_ptr<DbfTableData> LendDbfTable(const std::string& real_path) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_kept.begin(); it != g_kept.end(); ++it) {
      // Only the list holds a table no connection uses; a connection can
      // take it only under the lock, so the count cannot rise meanwhile.
      if (it->path != real_path || it->table.use_count() != 1) continue;
      if (!it->table->TakeOver()) {
        g_kept.erase(it);
        break;
      }
      g_kept.splice(g_kept.begin(), g_kept, it);
      return g_kept.front().table;
    }
  }
  auto table = std::make_shared<DbfTableData>(real_path);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_kept.push_front(Kept{real_path, table});
  // Drop what cannot be lent again, then the least recently lent.
  for (auto it = std::next(g_kept.begin()); it != g_kept.end();) {
    bool idle = it->table.use_count() == 1;
    if (idle && (!it->table->Usable() || !Exists(it->path))) {
      it = g_kept.erase(it);
    } else {
      ++it;
    }
  }
  for (auto it = g_kept.end(); g_kept.size() > kKept && it != g_kept.begin();) {
    --it;
    if (it->table.use_count() == 1) it = g_kept.erase(it);
  }
  return table;
}

void ForgetDbfTables() {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (auto it = g_kept.begin(); it != g_kept.end();) {
    it = it->table.use_count() == 1 ? g_kept.erase(it) : std::next(it);
  }
}

}  // namespace vigilo::sql
