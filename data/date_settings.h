// The user's date format as the date conversions need it: the separator, the
// order of the three components and the picture built from them.
//
// It is a copy of three fields of the settings object (CServerPaths), so the
// conversions can be used and tested without building one.
#pragma once

#include <string>

#include "data/server_paths.h"

namespace vigilo {

struct DateSettings {
  char separator = '/';                  // between the components
  char order[3] = {'M', 'D', 'Y'};       // component letters in text order
  std::string picture = "MM/DD/YY";      // e.g. DD.MM.YY; always two letters each
};

inline DateSettings DateSettingsOf(const CServerPaths& paths) {
  DateSettings settings;
  settings.separator = paths.date_separator;
  for (int i = 0; i < 3; ++i) settings.order[i] = paths.date_order[i];
  settings.picture = paths.date_picture;
  return settings;
}

}  // namespace vigilo
