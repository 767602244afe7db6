// The domain release: after the user confirms, the stored account goes, the service is told, and
// the main window shows the unregistered state.
#include "app/Unit1.h"
#include "core/Registration.h"
#include "shell/MessageBoxes.h"

namespace hw {

void TForm1::Button3Click() {
  // "Dialog" is the box's caption as users know it; it is not a text of lang.ini.
  const BoxRequest confirmation{"Dialog", GetLangStr("15"), BoxIcon::None, BoxButtons::OkCancel};
  if (Boxes().Show(confirmation) != BoxAnswer::Ok) return;
  Button2->setText(QString::fromStdString(GetLangStr("1")));
  Button3->setEnabled(false);
  ForgetAccount();  // a refusal is not reported
  // The in-memory account stays, so the service learns which account is released.
  SendQuery(MachineId, "del");
  // After the reply's own handling, so these are the final state whatever the reply said.
  Timer1->Disable();
  Label5->setText(QString::fromStdString(GetLangStr("16")));
  Label6->clear();
}

}  // namespace hw
