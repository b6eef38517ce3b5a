#include "platform/loader/plugin_library.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "common/format.h"

namespace vigilo {

namespace {

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

bool IsExistingFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path,
                                                   std::string* error) {
  // dlopen searches the library path for names without a slash; a plugin is
  // always named by its location, so make that explicit.
  std::string location = path.find('/') == std::string::npos ? "./" + path : path;
  ::dlerror();
  void* handle = ::dlopen(location.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = ::dlerror();
    if (error != nullptr) *error = text != nullptr ? text : "cannot open " + path;
    return nullptr;
  }
  return std::unique_ptr<PluginLibrary>(new PluginLibrary(handle, path));
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

void* PluginLibrary::Symbol(const char* name) const {
  return ::dlsym(handle_, name);
}

std::string PluginSearch::InstalledPluginDirectory() {
  // An installation may be moved as a whole (another prefix, a DESTDIR
  // staging tree): the plugins sit beside the programs as PREFIX/sbin and
  // PREFIX/lib/.../vigilo, so look there before the directory of the build.
  std::error_code error;
  std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) {
    std::filesystem::path beside =
        program.parent_path().parent_path() / VIGILO_PLUGIN_SUBDIR;
    if (std::filesystem::is_directory(beside, error)) return beside.lexically_normal().string();
  }
  return VIGILO_PLUGIN_DIR;
}

std::vector<std::string> PluginSearch::Candidates() const {
  std::vector<std::string> paths;
  if (!env_variable.empty()) {
    const char* value = std::getenv(env_variable.c_str());
    if (value != nullptr && *value != '\0') paths.emplace_back(value);
  }
  if (!program_dir.empty()) paths.push_back(JoinPath(program_dir, file_name));
  if (!plugin_dir.empty()) paths.push_back(JoinPath(plugin_dir, file_name));
  return paths;
}

PluginLoad LoadPlugin(const PluginSearch& search,
                      const std::vector<std::string>& functions) {
  PluginLoad result;
  std::vector<std::string> candidates = search.Candidates();
  std::string chosen;
  for (const std::string& path : candidates) {
    if (IsExistingFile(path)) {
      chosen = path;
      break;
    }
  }
  if (chosen.empty()) {
    std::string tried;
    for (const std::string& path : candidates) {
      if (!tried.empty()) tried += ", ";
      tried += path;
    }
    result.error = Format("%s not found (looked for %s)", search.file_name.c_str(),
                          tried.empty() ? "nothing: no place to look" : tried.c_str());
    return result;
  }

  std::string open_error;
  result.library = PluginLibrary::Open(chosen, &open_error);
  if (result.library == nullptr) {
    result.error = Format("cannot load %s: %s", chosen.c_str(), open_error.c_str());
    return result;
  }

  for (const std::string& name : functions) {
    void* address = result.library->Symbol(name.c_str());
    result.functions.push_back(address);
    if (address == nullptr) result.missing_functions.push_back(name);
  }
  if (!result.missing_functions.empty()) {
    std::string names;
    for (const std::string& name : result.missing_functions) {
      if (!names.empty()) names += ", ";
      names += name;
    }
    result.status = PluginLoad::Status::kFunctionMissing;
    result.error = Format("%s lacks %s", chosen.c_str(), names.c_str());
    return result;
  }
  result.status = PluginLoad::Status::kLoaded;
  return result;
}

}  // namespace vigilo
