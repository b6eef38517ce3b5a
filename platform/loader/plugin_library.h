// Plugin loading: finds a shared library by the installation's search order,
// opens it with dlopen and binds its entry points by name.
//
// The programs load their mail transports at run time and must tell a missing
// library apart from a library that lacks an entry point, because the two give
// different start-up failures. LoadPlugin returns that distinction as a value
// the caller must look at; the PluginLibrary it hands back owns the dlopen
// handle and closes it on destruction, so bound function pointers are valid
// only while that object lives. Not thread-safe to share one PluginLibrary's
// destruction with callers of its functions; loading itself may run anywhere.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace vigilo {

// An open shared library. Closing happens in the destructor.
class PluginLibrary {
 public:
  // Opens exactly this file (RTLD_NOW | RTLD_LOCAL). Returns null and fills
  // *error with the loader's text when the file cannot be opened.
  static std::unique_ptr<PluginLibrary> Open(const std::string& path,
                                             std::string* error);

  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  // Address of an exported symbol, or null when the library has none by that
  // name.
  void* Symbol(const char* name) const;

  const std::string& path() const { return path_; }

 private:
  PluginLibrary(void* handle, std::string path)
      : handle_(handle), path_(std::move(path)) {}

  void* handle_;
  std::string path_;
};

// Where to look for one plugin. Candidates are tried in this order: the file
// named by the environment variable (when set and not empty), the file in the
// program directory, the file in the installed plugin directory. The first
// candidate that exists is the one loaded; later ones are not tried even if it
// fails to open, so a broken file is reported rather than silently replaced.
struct PluginSearch {
  std::string env_variable;  // e.g. VIGILO_MAPI_LIBRARY
  std::string file_name;     // e.g. libvgmapi.so
  std::string program_dir;   // directory of the running program; may be empty
  std::string plugin_dir = InstalledPluginDirectory();

  // The installed plugin directory: VIGILO_PLUGIN_SUBDIR under the prefix the
  // running program is installed in (the parent of its own directory) when
  // that directory exists, else the one chosen at build time.
  static std::string InstalledPluginDirectory();

  // Candidate paths in search order, without checking that they exist.
  std::vector<std::string> Candidates() const;
};

// Result of LoadPlugin.
struct PluginLoad {
  enum class Status {
    kLoaded,           // library open, every requested function bound
    kLibraryMissing,   // no candidate exists, or the one found does not open
    kFunctionMissing,  // library open, at least one function absent
  };

  Status status = Status::kLibraryMissing;
  // For a missing library: the paths tried or the loader's error text. For a
  // missing function: its name and the library's path. Empty when loaded.
  std::string error;
  // Names of the requested functions the library lacks, in request order.
  std::vector<std::string> missing_functions;
  // Open when status is kLoaded or kFunctionMissing (a caller may keep an
  // incomplete library loaded, as the SMTP transport does).
  std::unique_ptr<PluginLibrary> library;
  // One address per requested function, in request order; null when missing.
  std::vector<void*> functions;

  bool ok() const { return status == Status::kLoaded; }

  // The bound address of function i cast to its C function pointer type.
  template <typename Fn>
  Fn Function(size_t i) const {
    return reinterpret_cast<Fn>(functions.at(i));
  }
};

// Finds the plugin by the search order and binds the named functions.
[[nodiscard]] PluginLoad LoadPlugin(const PluginSearch& search,
                                    const std::vector<std::string>& functions);

}  // namespace vigilo
