// libvgmapi.so: the mail-system provider behind vgmapi.h.
//
// Sessions are numbered handles mapped to the mapi.ini snapshot read at logon;
// recipients handed out by MAPIResolveName are single allocations recorded in
// a set, so MAPIFreeBuffer can refuse a pointer it never gave out instead of
// corrupting the heap. Both tables are guarded by one mutex; delivery itself
// runs outside it.
#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/text.h"
#include "platform/mapi/mapi_config.h"
#include "platform/mapi/mapi_delivery.h"
#include "platform/mapi/vgmapi.h"

#define VGMAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using vigilo::mapi::MapiConfig;

std::mutex state_mutex;
std::map<MapiSessionHandle, std::shared_ptr<const MapiConfig>> sessions;
MapiSessionHandle next_session = 1;
std::set<void*> buffers;
thread_local std::string last_error;

uint32_t Fail(uint32_t code, std::string text) {
  last_error = std::move(text);
  return code;
}

// Reads mapi.ini, or fails with VGMAPI_E_NO_CONFIG.
uint32_t ReadConfig(std::shared_ptr<const MapiConfig>* config) {
  std::string error;
  std::optional<MapiConfig> loaded = vigilo::mapi::LoadMapiConfig(vigilo::mapi::MapiIniPath(), &error);
  if (!loaded) return Fail(VGMAPI_E_NO_CONFIG, error);
  *config = std::make_shared<const MapiConfig>(std::move(*loaded));
  return VGMAPI_OK;
}

std::shared_ptr<const MapiConfig> SessionConfig(MapiSessionHandle session) {
  std::lock_guard<std::mutex> lock(state_mutex);
  auto found = sessions.find(session);
  return found == sessions.end() ? nullptr : found->second;
}

// One block: the record, then name, address and entry identifier bytes.
MapiRecipDesc* NewRecipient(const std::string& name, const std::string& address) {
  size_t size = sizeof(MapiRecipDesc) + name.size() + 1 + address.size() + 1;
  auto* block = static_cast<char*>(std::calloc(1, size));
  if (block == nullptr) return nullptr;
  auto* recipient = reinterpret_cast<MapiRecipDesc*>(block);
  char* name_copy = block + sizeof(MapiRecipDesc);
  char* address_copy = name_copy + name.size() + 1;
  std::memcpy(name_copy, name.c_str(), name.size() + 1);
  std::memcpy(address_copy, address.c_str(), address.size() + 1);
  recipient->reserved = 0;
  recipient->recip_class = MAPI_TO;
  recipient->name = name_copy;
  recipient->address = address_copy;
  // The address, terminator included, identifies the recipient to this
  // provider.
  recipient->entry_id = address_copy;
  recipient->entry_id_size = static_cast<uint32_t>(address.size() + 1);
  std::lock_guard<std::mutex> lock(state_mutex);
  buffers.insert(block);
  return recipient;
}

__attribute__((constructor)) void InitTransport() { curl_global_init(CURL_GLOBAL_DEFAULT); }
__attribute__((destructor)) void EndTransport() { curl_global_cleanup(); }

}  // namespace

VGMAPI_EXPORT uint32_t MAPILogon(uintptr_t, const char* profile, const char* password,
                                 uint32_t, uint32_t, MapiSessionHandle* session) {
  last_error.clear();
  if (session == nullptr) return Fail(VGMAPI_E_BAD_ARGUMENT, "no place for the session handle");
  *session = 0;
  try {
    std::shared_ptr<const MapiConfig> config;
    if (uint32_t code = ReadConfig(&config); code != VGMAPI_OK) return code;
    std::string name = profile != nullptr ? profile : "";
    std::optional<std::string> expected = config->Password(vigilo::Trimmed(name));
    if (!expected) return Fail(VGMAPI_E_LOGON_FAILURE, "unknown profile \"" + name + "\"");
    if (*expected != (password != nullptr ? password : "")) {
      return Fail(VGMAPI_E_LOGON_FAILURE, "wrong password for profile \"" + name + "\"");
    }
    std::lock_guard<std::mutex> lock(state_mutex);
    MapiSessionHandle handle = next_session++;
    sessions.emplace(handle, std::move(config));
    *session = handle;
    return VGMAPI_OK;
  } catch (const std::exception& e) {
    return Fail(VGMAPI_E_FAILURE, std::string("logon failed: ") + e.what());
  }
}

VGMAPI_EXPORT uint32_t MAPIResolveName(MapiSessionHandle session, uintptr_t, const char* name,
                                       uint32_t, uint32_t, MapiRecipDesc** recipient) {
  last_error.clear();
  if (recipient == nullptr) return Fail(VGMAPI_E_BAD_ARGUMENT, "no place for the recipient");
  *recipient = nullptr;
  try {
    std::shared_ptr<const MapiConfig> config;
    if (session != 0) {
      config = SessionConfig(session);
      if (config == nullptr) return Fail(VGMAPI_E_INVALID_SESSION, "no such session");
    } else if (uint32_t code = ReadConfig(&config); code != VGMAPI_OK) {
      return code;
    }
    std::string text = vigilo::Trimmed(name != nullptr ? name : "");
    std::string display;
    std::string address;
    if (text.find('@') != std::string::npos) {
      display = address = text;
    } else if (std::optional<std::string> entry = config->Lookup(text); entry && !text.empty()) {
      display = text;
      address = *entry;
    } else {
      return Fail(VGMAPI_E_UNKNOWN_RECIPIENT, "unknown recipient \"" + text + "\"");
    }
    *recipient = NewRecipient(display, address);
    if (*recipient == nullptr) return Fail(VGMAPI_E_FAILURE, "out of memory");
    return VGMAPI_OK;
  } catch (const std::exception& e) {
    return Fail(VGMAPI_E_FAILURE, std::string("resolution failed: ") + e.what());
  }
}

VGMAPI_EXPORT uint32_t MAPISendMail(MapiSessionHandle session, uintptr_t,
                                    const MapiMessage* message, uint32_t, uint32_t) {
  last_error.clear();
  if (message == nullptr) return Fail(VGMAPI_E_BAD_ARGUMENT, "no message");
  std::shared_ptr<const MapiConfig> config = SessionConfig(session);
  if (config == nullptr) return Fail(VGMAPI_E_INVALID_SESSION, "no such session");
  try {
    vigilo::mapi::DeliveryOutcome outcome = vigilo::mapi::DeliverMessage(*config, *message);
    if (outcome.code != VGMAPI_OK) return Fail(outcome.code, outcome.text);
    return VGMAPI_OK;
  } catch (const std::exception& e) {
    return Fail(VGMAPI_E_FAILURE, std::string("delivery failed: ") + e.what());
  }
}

VGMAPI_EXPORT uint32_t MAPIFreeBuffer(void* buffer) {
  last_error.clear();
  if (buffer == nullptr) return VGMAPI_OK;
  {
    std::lock_guard<std::mutex> lock(state_mutex);
    if (buffers.erase(buffer) == 0) {
      return Fail(VGMAPI_E_INVALID_BUFFER, "buffer not handed out by this provider");
    }
  }
  std::free(buffer);
  return VGMAPI_OK;
}

VGMAPI_EXPORT uint32_t MAPILogoff(MapiSessionHandle session, uintptr_t, uint32_t, uint32_t) {
  last_error.clear();
  std::lock_guard<std::mutex> lock(state_mutex);
  if (sessions.erase(session) == 0) return Fail(VGMAPI_E_INVALID_SESSION, "no such session");
  return VGMAPI_OK;
}

VGMAPI_EXPORT const char* VgMapiLastError(void) { return last_error.c_str(); }
