#pragma once

namespace hw {

// Runs once the windows exist and the start-up has read the service's clock: when no account is
// registered on this machine, the update cycle stops, the main window shows its unregistered state
// and the registration dialog opens. "REG" is written false when it is missing. Nothing happens
// when the settings cannot be opened. An error (a "REG" of the wrong type) leaves it.
void OfferRegistration();

}  // namespace hw
