#include "account/RegistrationOffer.h"

#include "account/Unit2.h"
#include "app/Unit1.h"
#include "settings/SettingsStore.h"

namespace hw {
namespace {

// Whether this machine lacks an account; writes "REG" false the first time.
bool AccountMissing() {
  SettingsAccess settings;
  if (!settings.OpenSettings(false)) return false;
  if (!settings.SettingExists("REG")) {
    settings.WriteFlag("REG", false);
    return true;
  }
  return !settings.ReadFlag("REG");
}

}  // namespace

void OfferRegistration() {
  if (!AccountMissing()) return;
  Form1->Timer1->Disable();
  Form1->Button2->setText(QString::fromStdString(Form1->GetLangStr("1")));
  Form1->Button3->setEnabled(false);
  Form2->show();  // not modal; the main window stays hidden and enabled
}

}  // namespace hw
