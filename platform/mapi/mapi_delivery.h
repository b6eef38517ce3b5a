// Turns a MapiMessage into mail and hands it to the configured delivery.
//
// Each TO, CC and BCC recipient becomes one mail address (see AddressFor);
// the composed message goes to the SMTP URL of mapi.ini when one is set, else
// to the delivery command. The result is one of the VGMAPI_ codes and, on
// failure, a one-line text naming what failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/mapi/mapi_config.h"
#include "platform/mapi/vgmapi.h"

namespace vigilo::mapi {

struct DeliveryOutcome {
  uint32_t code = VGMAPI_OK;
  std::string text;
};

// The mail address a recipient text stands for: a leading "CCMAIL:" or
// "SMTP:" is removed; what then holds "@" is the address itself; anything
// else is looked up in the address book (whose value may again carry one of
// those prefixes). Nothing when no address results.
std::optional<std::string> AddressFor(const MapiConfig& config, std::string_view text);

// Delivers the message. Requires a non-null message.
DeliveryOutcome DeliverMessage(const MapiConfig& config, const MapiMessage& message);

}  // namespace vigilo::mapi
